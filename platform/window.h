#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Stand-in for windows and window messages. A window belongs to the thread that created it;
// that thread runs a message loop which dispatches the window's messages to its procedure.
//   SendMessage   runs the procedure on the owning thread and waits for its result; called
//                 on the owning thread itself it runs the procedure directly. While a thread
//                 waits in SendMessage (to a thread or to another process) it still handles
//                 messages sent to its own windows, so two threads or processes sending to
//                 each other do not dead-lock.
//   PostMessage   queues the message and returns. Posting WM_QUIT ends the owner's loop
//                 with wParam as its exit code once the message is reached.
//   SetTimer      posts WM_TIMER (wParam = timer id) every `ms` milliseconds until KillTimer;
//                 at most one WM_TIMER per timer waits in the queue.
// A window created with a title is registered per user as a Unix socket under
// $XDG_RUNTIME_DIR/orvanta/ (else /tmp/orvanta-$UID/), so FindWindow(title) from another
// process returns a handle to which SendMessage and PostMessage deliver (numeric wParam and
// lParam only; pointers cannot cross processes). Titles compare without regard to ASCII case.
// The loop is pluggable: RunMessageLoop here for headless use; a GUI loop installs a wake-up
// hook and calls ProcessPendingMessages.
namespace platform {

using HWND = struct Window*;  // opaque: never dereferenced, never reused within a process
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
// process of this user (a socket left behind by a process that died is taken over), or when
// the per-user directory cannot be made safe. An empty title gives a private window.
HWND CreateWindow(const std::string& title, WindowProc proc);
// Unregisters the title, kills the window's timers, drops queued messages and releases
// every thread waiting in SendMessage to it (with result 0). Any thread may call it for a
// window of this process; a remote handle is only forgotten. The windows still alive when
// their owning thread ends are destroyed then.
void DestroyWindow(HWND window);
// A window of this process that was not destroyed, or a remote window whose process still
// listens.
bool IsWindow(HWND window);

// Finds a top-level window by title: in this process, or in another process of this user
// (a remote handle). Null when there is none.
HWND FindWindow(const std::string& title);

// Returns the procedure's result; 0 when the window does not exist (or is destroyed while
// the caller waits). To a remote window it waits at most kRemoteSendTimeoutMs.
LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Like SendMessage with a limit on the wait (milliseconds, 0 = none for a local window).
// False when the window does not exist, the peer died or the time ran out; the message may
// still be handled later in that last case.
bool SendMessageTimeout(HWND window, UINT message, WPARAM wParam, LPARAM lParam, unsigned timeoutMs, LRESULT* result);
constexpr unsigned kRemoteSendTimeoutMs = 5000;
// False when the window does not exist or the peer cannot be reached.
bool PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Starts (or restarts) timer `id` of a local window; returns id, or 0 on failure (no such
// window, a remote window, id 0). Periods below 10 ms are raised to 10 ms.
UINT SetTimer(HWND window, UINT id, UINT milliseconds);
bool KillTimer(HWND window, UINT id);

// Runs the calling thread's message loop until PostQuitMessage is called on this thread or
// a posted WM_QUIT is reached; returns the exit code. Messages posted before the quit
// request are dispatched first; timers are not.
int RunMessageLoop();
// Asks the calling thread's loop to end with `exitCode`. (From another thread, post WM_QUIT
// to one of the loop's windows instead.)
void PostQuitMessage(int exitCode);

// Dispatches the messages sent to the calling thread's windows and those posted to them
// before the call, without waiting. Lets another event loop (the GUI's) drive the windows.
// Returns false when a quit request was reached (its code in *exitCode); the event loop
// should then end.
bool ProcessPendingMessages(int* exitCode = nullptr);
// Installs, for the calling thread, a function called (from any thread, without locks held)
// whenever a message is queued for one of its windows or one of their timers is due; a GUI
// loop makes it schedule ProcessPendingMessages on itself. An empty function removes it.
void SetWakeupHook(std::function<void()> hook);

}  // namespace platform
