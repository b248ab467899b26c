#pragma once

#include "platform/window.h"

namespace orvanta {

// The busy indication while new mail is examined, for as long as the object lives: timer
// 100 ticks on the main window (every tick swaps the tray icon), and at the end the main
// window is told so (kMsgExaminationEnded: the normal icon, the pages' hit counts). Made on
// the POP3 proxy's relay thread; the window's thread does the showing. A null window
// indicates nothing.
class BusyIndication {
public:
    explicit BusyIndication(platform::HWND mainWindow);
    ~BusyIndication();
    BusyIndication(const BusyIndication&) = delete;
    BusyIndication& operator=(const BusyIndication&) = delete;

private:
    platform::HWND window_;
};

}  // namespace orvanta
