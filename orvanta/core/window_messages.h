#pragma once

#include "platform/window.h"

// The messages, timers and commands of the main window, in one place: the servers, the
// pipeline and the front ends all post to it or handle them.
namespace orvanta {

constexpr platform::UINT kMsgQuitRequest = 1006;                          // from the updater and the uninstaller
constexpr platform::UINT kMsgTray = platform::WM_USER + 100;              // 1124, the tray icon's callback
constexpr platform::UINT kMsgExaminationEnded = platform::WM_USER + 101;  // posted by BusyIndication
constexpr platform::UINT kMsgImap = platform::WM_USER + 1000;             // 2024, WM_IMAPMESG of the IMAP server
constexpr platform::UINT kMsgIgnored = platform::WM_USER + 2000;          // 3024, accepted and ignored
constexpr platform::UINT kMsgCommand = 0x0111;                            // WM_COMMAND, the command id in wParam

constexpr platform::LPARAM kTrayLeftDown = 513;
constexpr platform::LPARAM kTrayRightDown = 516;

// Timer 200 hides the main window right after start-up; timer 100 swaps the tray icon while
// new mail is examined.
constexpr platform::UINT kTimerHide = 200;
constexpr platform::UINT kTimerHideMs = 100;
constexpr platform::UINT kTimerBusy = 100;
constexpr platform::UINT kTimerBusyMs = 500;

// Menu commands (the tray menu; --link-accounts and --unlink-accounts post them to a running
// copy, or carry them out in a short run with the stored settings when none runs).
constexpr platform::WPARAM kCmdOpen = 0x8003;
constexpr platform::WPARAM kCmdExit = 0x800E;
constexpr platform::WPARAM kCmdLinkAccounts = 0x8026;
constexpr platform::WPARAM kCmdUnlinkAccounts = 0x8028;
constexpr platform::WPARAM kCmdUpdate = 0x8006;  // "업데이트": start the updater

}  // namespace orvanta
