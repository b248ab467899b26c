#pragma once

#include "platform/window.h"

// Notification an IMAP session sends synchronously to the main window when the user files a
// message by hand (APPEND) or takes the \Flagged mark off one (STORE). The texts belong to
// the sender and live only for the duration of the call: copy what you keep.
struct IMAPMESG {
    const char* command;  // "APPEND" or "SPAM"
    const char* mailbox;  // the target folder, or "PASS"
    const char* detail;   // "notuse", or the message file name
    const char* from;     // the sender's address
    // The message itself while the call lasts: the file of the literal being appended, or the
    // stored message's file; null when there is none. The learning filter trains on it.
    const char* path = nullptr;
};

// WM_USER + 1000; wParam points to an IMAPMESG, lParam is 0.
constexpr platform::UINT WM_IMAPMESG = platform::WM_USER + 1000;
