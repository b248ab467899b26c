#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Stand-in for windows and window messages. A window belongs to the thread that created it;
// that thread runs a message loop which dispatches the window's messages to its procedure.
//   SendMessage   runs the procedure on the owning thread and waits for its result; called
//                 on the owning thread itself it runs the procedure directly.
//   PostMessage   queues the message and returns.
//   SetTimer      posts WM_TIMER (wParam = timer id) every `ms` milliseconds until KillTimer.
// A window created with a title is registered per user as a Unix socket under
// $XDG_RUNTIME_DIR/orvanta/ (else /tmp/orvanta-$UID/), so FindWindow(title) from another
// process returns a handle to which SendMessage and PostMessage deliver (numeric wParam and
// lParam only; pointers cannot cross processes).
// The loop is pluggable: the headless loop here, the GUI's own later (SetMessagePump).
namespace platform {

using HWND = struct Window*;
using UINT = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;  // 1024: the first user message number

using WindowProc = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

// Creates a window owned by the calling thread. A non-empty title registers it for
// FindWindow; creation fails (null) when a live window of that title already exists in any
// process of this user.
HWND CreateWindow(const std::string& title, WindowProc proc);
// Unregisters the title, kills the window's timers and drops queued messages.
void DestroyWindow(HWND window);
bool IsWindow(HWND window);

// Finds a top-level window by title: in this process, or in another process of this user
// (a remote handle). Null when there is none.
HWND FindWindow(const std::string& title);

LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
bool PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

UINT SetTimer(HWND window, UINT id, UINT milliseconds);
bool KillTimer(HWND window, UINT id);

// Runs the calling thread's message loop until PostQuitMessage is called on this thread;
// returns the exit code given to it.
int RunMessageLoop();
// Asks the calling thread's loop (or, from another thread, the loop of `thread` windows'
// owner through PostMessage(window, WM_QUIT, code, 0)) to end.
void PostQuitMessage(int exitCode);

// Dispatches every message already queued for the calling thread's windows, without
// waiting. Lets another event loop (the GUI's) drive the windows.
void ProcessPendingMessages();
// Called (from any thread) whenever a message is queued for a window of `ownerThread`s loop;
// a GUI loop installs one to wake itself up. Null restores the built-in wake-up.
void SetWakeupHook(std::function<void()> hook);

}  // namespace platform
