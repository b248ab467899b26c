#pragma once

// Listener base for components that report one line per event (the debug window derives
// from it). Holders of a null listener write nothing. The base listener discards the line.
class CDebug {
public:
    virtual ~CDebug() = default;
    virtual void DebugMesg(char* mesg);

    // Hands `text` to `listener` (nothing when it is null) as a copy the listener may change.
    static void Report(CDebug* listener, const char* text);
};
