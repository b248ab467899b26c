// Ledgerly: the updater's fixed texts (update address) and the update site list.
#pragma once

#include "components/ledgerly/common_data.h"
#include "components/ledgerly/update_sites.h"
