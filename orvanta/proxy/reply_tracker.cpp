#include "orvanta/proxy/reply_tracker.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

namespace pop3proxy {
namespace {

bool IsWord(std::string_view word, const char* name)
{
    return word.size() == std::strlen(name) && strncasecmp(word.data(), name, word.size()) == 0;
}

}  // namespace

ReplyTracker::Reply ReplyTracker::ReplyTo(std::string_view command)
{
    size_t start = command.find_first_not_of(' ');
    if (start == std::string_view::npos)
        return Reply::StatusLine;
    std::string_view rest = command.substr(start);
    size_t end = rest.find(' ');
    std::string_view word = rest.substr(0, end);
    bool argument = end != std::string_view::npos && rest.find_first_not_of(' ', end) != std::string_view::npos;
    if (IsWord(word, "RETR") || IsWord(word, "TOP") || IsWord(word, "CAPA"))
        return Reply::Listing;
    // With a message number one line, without one the whole listing.
    if (IsWord(word, "LIST") || IsWord(word, "UIDL"))
        return argument ? Reply::StatusLine : Reply::Listing;
    if (IsWord(word, "QUIT"))
        return Reply::Quit;
    return Reply::StatusLine;
}

void ReplyTracker::Expect(Reply reply)
{
    std::lock_guard guard(lock_);
    if (expected_.empty())
        since_ = Clock::now();
    expected_.push_back(reply);
}

bool ReplyTracker::EndsListing(const char* data, size_t at) const
{
    auto before = [&](size_t k) -> char {
        if (k <= at)
            return data[at - k];
        size_t back = k - at;  // 1 = the last byte of the tail
        return back <= tailLength_ ? tail_[tailLength_ - back] : '\0';
    };
    char one = before(1);
    return (one == '.' && before(2) == '\n') || (one == '\r' && before(2) == '.' && before(3) == '\n');
}

void ReplyTracker::KeepTail(const char* data, size_t length)
{
    if (length >= sizeof tail_) {
        std::memcpy(tail_, data + length - sizeof tail_, sizeof tail_);
        tailLength_ = sizeof tail_;
        return;
    }
    size_t keep = std::min(tailLength_, sizeof tail_ - length);
    std::memmove(tail_, tail_ + tailLength_ - keep, keep);
    std::memcpy(tail_ + keep, data, length);
    tailLength_ = keep + length;
}

bool ReplyTracker::Received(const char* data, size_t length)
{
    if (length == 0)
        return false;
    std::lock_guard guard(lock_);
    bool quitConfirmed = false;
    since_ = Clock::now();
    size_t i = 0;
    while (i < length && !expected_.empty()) {
        if (!inListing_) {
            if (!statusBegun_) {
                statusBegun_ = true;
                statusOk_ = data[i] == '+';
            }
            const void* lf = std::memchr(data + i, '\n', length - i);
            if (!lf)
                break;
            const size_t at = static_cast<size_t>(static_cast<const char*>(lf) - data);
            statusBegun_ = false;
            const Reply front = expected_.front();
            if (front == Reply::Listing && statusOk_) {
                inListing_ = true;
            } else {
                if (front == Reply::Quit && statusOk_)
                    quitConfirmed = true;
                expected_.pop_front();
            }
            i = at + 1;
            continue;
        }
        if (expected_.size() == 1) {
            // The server sends nothing after this listing until the next command, so only the
            // end of what arrived can end it: no scan through a long message.
            if (data[length - 1] == '\n' && EndsListing(data, length - 1)) {
                expected_.pop_front();
                inListing_ = false;
            }
            break;
        }
        // More replies are on their way (a client that sends commands ahead): every line
        // counts.
        bool ended = false;
        while (i < length) {
            const void* lf = std::memchr(data + i, '\n', length - i);
            if (!lf) {
                i = length;
                break;
            }
            const size_t at = static_cast<size_t>(static_cast<const char*>(lf) - data);
            i = at + 1;
            if (EndsListing(data, at)) {
                ended = true;
                break;
            }
        }
        if (ended) {
            expected_.pop_front();
            inListing_ = false;
        }
    }
    KeepTail(data, length);
    return quitConfirmed;
}

bool ReplyTracker::Awaiting(Clock::time_point* since) const
{
    std::lock_guard guard(lock_);
    if (expected_.empty())
        return false;
    if (since)
        *since = since_;
    return true;
}

void ReplyTracker::Reset()
{
    std::lock_guard guard(lock_);
    expected_.clear();
    inListing_ = statusBegun_ = statusOk_ = false;
    tailLength_ = 0;
    since_ = Clock::now();
}

}  // namespace pop3proxy
