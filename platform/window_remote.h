#pragma once

// The per-user registry of window titles behind platform/window.h: each titled window
// listens on a Unix socket named after its title, and other processes deliver messages to
// it through that socket. Internal to libplatform.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/window.h"

namespace platform::detail {

// A live registration: the socket file and the thread that accepts requests for one window.
// Destroying it removes the socket file, so the title is free again.
class TitleRegistration {
public:
    virtual ~TitleRegistration() = default;
};

// Registers `title` for the local window `window`. Null when a live window of that title
// exists in any process of this user, or the per-user directory is unusable.
std::unique_ptr<TitleRegistration> RegisterTitle(const std::string& title, HWND window);

// A window of another process, as FindWindow found it: the socket and the token that
// tells this registration apart from a later one of the same title.
struct RemoteWindow {
    std::string path;
    std::uint64_t token = 0;
};

// Looks the title up; false when no live window has it.
bool FindRemoteTitle(const std::string& title, RemoteWindow* found);
// Whether that very registration still answers.
bool RemoteAlive(const RemoteWindow& window);
bool RemotePost(const RemoteWindow& window, UINT message, WPARAM wParam, LPARAM lParam);
bool RemoteSend(const RemoteWindow& window, UINT message, WPARAM wParam, LPARAM lParam, unsigned timeoutMs,
                LRESULT* result);

// Titles compare without regard to ASCII case.
bool SameTitle(const std::string& a, const std::string& b);

// The per-user socket directory for the current environment (not created).
std::string SocketDirectory();
// The socket file name for a title (exposed for the tests).
std::string SocketFileName(const std::string& title);

}  // namespace platform::detail
