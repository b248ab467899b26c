#pragma once

#include "unmoor/uninstaller.h"

namespace unmoor {

// The uninstaller without its window, on standard output (UTF-8). With `answerOk` it does what
// the dialog's OK does and says what it did; without, it only says what OK would do and
// changes nothing. While the main program runs it says so and changes nothing. Returns the
// exit status: 0, or 1 when the main program runs.
int RunWithoutWindow(Uninstaller& uninstaller, bool answerOk);

}  // namespace unmoor
