#include "components/toolwick/debug.h"

void CDebug::DebugMesg(char*) {}
