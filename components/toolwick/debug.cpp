#include "components/toolwick/debug.h"

#include <string>

void CDebug::DebugMesg(char*) {}

void CDebug::Report(CDebug* listener, const char* text)
{
    if (!listener || !text)
        return;
    std::string copy(text);
    listener->DebugMesg(copy.data());
}
