#include "orvanta/core/busy_indication.h"

#include "orvanta/core/window_messages.h"

namespace orvanta {

BusyIndication::BusyIndication(platform::HWND mainWindow) : window_(mainWindow)
{
    if (window_)
        platform::SetTimer(window_, kTimerBusy, kTimerBusyMs);
}

BusyIndication::~BusyIndication()
{
    if (!window_)
        return;
    platform::KillTimer(window_, kTimerBusy);
    platform::PostMessage(window_, kMsgExaminationEnded, 0, 0);
}

}  // namespace orvanta
