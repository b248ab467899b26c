#pragma once

#include "orvanta/update/update_environment.h"

namespace orvanta {
class FrontEnd;
}

// The update service's notice of the day, shown once at start.
namespace orvanta::update {

// Reads the notice page: a first line "NOTICE" (any case), the notice's date (YYYYMMDD) and
// its text. A notice newer than "NOTICE_DAY" is shown, and on the day it was shown
// ("READ_DAY") it is shown again at every start; the shown date and the day are recorded. A
// page that could not be read gives the notice window with an empty text, a page whose first
// line is something else gives nothing. True when the notice window was shown.
bool ShowOnlineNotice(const UpdateEnvironment& env, FrontEnd& frontEnd);

}  // namespace orvanta::update
