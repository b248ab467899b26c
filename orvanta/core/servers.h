#pragma once

#include <functional>
#include <string>

// The three servers of the program, started and stopped together by the core and by the
// settings page's "run" and "stop" buttons.
namespace orvanta {

enum class ServerSlot { Smtp, Pop3, Imap, Count };

struct ServerControl {
    std::function<bool()> isRunning;
    std::function<bool(int port)> start;   // true when it runs
    std::function<void()> stop;
    // A plain English reason for the last failed start (for the log), may be empty.
    std::function<std::string()> failureDetail;
};

// Installs (or replaces) the control of one server; a slot without one is skipped.
void RegisterServer(ServerSlot slot, ServerControl control);
void UnregisterServers();

// Shows a message box: the user interface installs its own; headless, the text is logged.
// Both texts are CP949.
using MessageBoxHook = std::function<void(const std::string& text, const std::string& caption)>;
void SetMessageBoxHook(MessageBoxHook hook);
// Shows an information box with the caption 61207 through the hook (headless: logs the text).
void ShowMessageBox(const std::string& cp949);

// Starts every registered server that is not running, in the order SMTP, POP3, IMAP, with
// its port from the settings. A server that cannot start shows its own message and leaves
// the others running. Returns the number of servers that failed.
int StartServers();
void StopServers();

}  // namespace orvanta
