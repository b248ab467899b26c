// Almanac: the main program's fixed texts (mail footers, update address).
#pragma once

#include "components/almanac/program_info.h"
