// Ledgerly: the updater's fixed texts (update address).
#pragma once

#include "components/ledgerly/common_data.h"
