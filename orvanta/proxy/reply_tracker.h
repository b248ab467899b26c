#pragma once

#include <chrono>
#include <deque>
#include <mutex>
#include <string_view>

namespace pop3proxy {

// Which of the server's replies the proxy is still waiting for, so that the wait for a reply is
// bounded while a mail client that sends nothing can sit idle for as long as it likes. The
// session thread announces every command it sends to the server; the relay thread hands over
// every byte it receives, in order, and learns whether a reply is outstanding and since when
// the server last sent anything, and when the server said "+OK" to a QUIT.
class ReplyTracker {
public:
    using Clock = std::chrono::steady_clock;

    enum class Reply {
        StatusLine,  // one line
        Listing,     // one line, and after "+OK" lines up to "."
        Quit,        // one line; "+OK" commits the session's deletions
    };
    // The reply a command line (as sent to the server) gets.
    static Reply ReplyTo(std::string_view command);

    // Session thread, before the command goes out.
    void Expect(Reply reply);
    // Relay thread: the next bytes from the server. True when they hold the "+OK" to a QUIT.
    bool Received(const char* data, size_t length);
    // True while some announced reply has not fully arrived; `since` then receives when the
    // wait began or the server last sent something, whichever is later.
    bool Awaiting(Clock::time_point* since = nullptr) const;
    void Reset();

private:
    // Whether the LF at data[at] ends the line "." of a listing. Bytes before `data` come from
    // tail_, the end of what was received before.
    bool EndsListing(const char* data, size_t at) const;
    void KeepTail(const char* data, size_t length);

    mutable std::mutex lock_;
    std::deque<Reply> expected_;
    bool inListing_ = false;    // the front reply's status line was "+OK" and its lines follow
    bool statusBegun_ = false;  // the front reply's status line has begun
    bool statusOk_ = false;     // ... with "+"
    // The last bytes received (up to 3), oldest first; in a listing it starts as an LF, so that
    // a listing with no lines (".") ends like any other.
    char tail_[3] = {};
    size_t tailLength_ = 0;
    Clock::time_point since_{};
};

}  // namespace pop3proxy
