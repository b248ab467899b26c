#include "platform/window_remote.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform::detail {
namespace {

using Clock = std::chrono::steady_clock;

// One request and one reply per connection, fixed size, host byte order (both ends run on
// the same machine).
constexpr std::uint32_t kMagic = 0x5756524f;  // "ORVW"
enum RequestKind : std::uint32_t { kPing = 0, kPost = 1, kSend = 2 };
enum ReplyStatus : std::uint32_t { kOk = 0, kNoWindow = 1, kBadRequest = 2 };

struct Request {
    std::uint32_t magic = kMagic;
    std::uint32_t kind = kPing;
    std::uint64_t token = 0;  // the registration the sender found; ignored by a ping
    std::uint32_t message = 0;
    std::uint32_t timeoutMs = 0;  // how long the sender waits for a send
    std::uint64_t wParam = 0;
    std::int64_t lParam = 0;
};

struct Reply {
    std::uint32_t magic = kMagic;
    std::uint32_t status = kBadRequest;
    std::uint64_t token = 0;  // the answering registration
    std::int64_t result = 0;
};

constexpr int kRequestReadMs = 2000;  // a connected peer must send its request by then
constexpr int kPingMs = 1000;
constexpr std::size_t kMaxEscapedName = 64;

int MillisecondsLeft(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

bool WaitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        pollfd p{fd, events, 0};
        int n = ::poll(&p, 1, MillisecondsLeft(deadline));
        if (n > 0)
            return true;
        if (n == 0)
            return false;
        if (errno != EINTR)
            return false;
    }
}

bool ReadFull(int fd, void* data, std::size_t size, Clock::time_point deadline)
{
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        if (!WaitFor(fd, POLLIN, deadline))
            return false;
        ssize_t n = ::recv(fd, p, size, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool WriteFull(int fd, const void* data, std::size_t size, Clock::time_point deadline)
{
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        if (!WaitFor(fd, POLLOUT, deadline))
            return false;
        ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool PeerIsThisUser(int fd)
{
    ucred cred{};
    socklen_t len = sizeof(cred);
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == ::geteuid();
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release()
    {
        int f = fd_;
        fd_ = -1;
        return f;
    }
    void Reset(int fd = -1)
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

// A socket address for `path`. sun_path holds 108 bytes; when the directory makes the path
// longer, the directory is opened and reached through /proc/self/fd instead.
class SocketAddress {
public:
    explicit SocketAddress(const std::string& path)
    {
        std::memset(&addr_, 0, sizeof(addr_));
        addr_.sun_family = AF_UNIX;
        std::string use = path;
        if (use.size() >= sizeof(addr_.sun_path)) {
            std::size_t slash = path.rfind('/');
            if (slash == std::string::npos)
                return;
            dir_.Reset(::open(path.substr(0, slash).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
            if (dir_.get() < 0)
                return;
            use = "/proc/self/fd/" + std::to_string(dir_.get()) + path.substr(slash);
            if (use.size() >= sizeof(addr_.sun_path))
                return;
        }
        std::memcpy(addr_.sun_path, use.data(), use.size());
        ok_ = true;
    }
    bool ok() const { return ok_; }
    const sockaddr* addr() const { return reinterpret_cast<const sockaddr*>(&addr_); }
    socklen_t size() const { return sizeof(addr_); }

private:
    sockaddr_un addr_;
    Fd dir_;
    bool ok_ = false;
};

// Connects to the socket at `path`; -1 with errno set on failure (ENOENT: nothing there,
// ECONNREFUSED: nobody listens, EACCES: another user's socket).
int Connect(const std::string& path, int timeoutMs)
{
    SocketAddress address(path);
    if (!address.ok()) {
        errno = ENAMETOOLONG;
        return -1;
    }
    Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0)
        return -1;
    // The send time-out also bounds a blocking connect to a peer whose backlog is full.
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
    if (::connect(fd.get(), address.addr(), address.size()) != 0)
        return -1;
    if (!PeerIsThisUser(fd.get())) {
        errno = EACCES;
        return -1;
    }
    return fd.release();
}

// One round trip; false when the peer cannot be reached or does not answer in time.
bool Exchange(const std::string& path, const Request& request, Reply* reply, unsigned timeoutMs)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    Fd fd(Connect(path, static_cast<int>(timeoutMs)));
    if (fd.get() < 0)
        return false;
    if (!WriteFull(fd.get(), &request, sizeof(request), deadline))
        return false;
    if (!ReadFull(fd.get(), reply, sizeof(*reply), deadline))
        return false;
    return reply->magic == kMagic;
}

std::string Lower(const std::string& s)
{
    std::string out = s;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool UsableDirectory(const std::string& dir)
{
    struct stat st {};
    return ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

// Creates the per-user directory (mode 0700) and checks that it is ours and private: a
// directory planted by someone else under /tmp must not receive our sockets.
bool PrepareDirectory(const std::string& dir)
{
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return false;
    if ((st.st_mode & 077) != 0 && ::chmod(dir.c_str(), 0700) != 0)
        return false;
    return true;
}

// Serialises the check-and-take of titles between processes, so that two of them finding
// the same stale socket do not both take the title.
class DirectoryLock {
public:
    explicit DirectoryLock(const std::string& dir)
        : fd_(::open((dir + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600))
    {
        if (fd_.get() < 0)
            return;
        while (::flock(fd_.get(), LOCK_EX) != 0) {
            if (errno != EINTR) {
                fd_.Reset();
                return;
            }
        }
    }
    ~DirectoryLock()
    {
        if (fd_.get() >= 0)
            ::flock(fd_.get(), LOCK_UN);
    }
    bool ok() const { return fd_.get() >= 0; }

private:
    Fd fd_;
};

std::uint64_t NewToken()
{
    std::uint64_t token = 0;
    while (token == 0) {
        if (::getrandom(&token, sizeof(token), 0) != static_cast<ssize_t>(sizeof(token)))
            token = static_cast<std::uint64_t>(Clock::now().time_since_epoch().count()) ^
                    (static_cast<std::uint64_t>(::getpid()) << 32);
    }
    return token;
}

// The connections a registration is still answering. Shared with the detached threads that
// answer them, which may outlive the registration.
struct Handlers {
    std::mutex lock;
    std::condition_variable idle;
    int active = 0;
};

class HandlerScope {
public:
    explicit HandlerScope(std::shared_ptr<Handlers> handlers) : handlers_(std::move(handlers)) {}
    ~HandlerScope()
    {
        std::lock_guard<std::mutex> guard(handlers_->lock);
        if (--handlers_->active == 0)
            handlers_->idle.notify_all();
    }

private:
    std::shared_ptr<Handlers> handlers_;
};

// Answers one connection: a ping, or a message for the registered window.
void ServeConnection(int rawFd, HWND window, std::uint64_t token, std::shared_ptr<Handlers> handlers)
{
    HandlerScope scope(std::move(handlers));
    Fd fd(rawFd);
    auto readDeadline = Clock::now() + std::chrono::milliseconds(kRequestReadMs);
    Request request;
    if (!PeerIsThisUser(fd.get()))
        return;
    if (!ReadFull(fd.get(), &request, sizeof(request), readDeadline))
        return;  // a probe
    Reply reply;
    reply.token = token;
    unsigned timeoutMs = request.timeoutMs ? request.timeoutMs : kRemoteSendTimeoutMs;
    if (request.magic != kMagic) {
        reply.status = kBadRequest;
    } else if (request.kind == kPing) {
        reply.status = kOk;
    } else if (request.token != token) {
        reply.status = kNoWindow;
    } else if (request.kind == kPost) {
        reply.status = PostMessage(window, request.message, request.wParam, request.lParam) ? kOk : kNoWindow;
    } else if (request.kind == kSend) {
        LRESULT result = 0;
        // The sender gives up after timeoutMs; so does this thread, so a window whose
        // owner never runs its loop does not collect waiting threads.
        if (SendMessageTimeout(window, request.message, request.wParam, request.lParam, timeoutMs, &result)) {
            reply.status = kOk;
            reply.result = result;
        } else {
            reply.status = kNoWindow;
        }
    }
    WriteFull(fd.get(), &reply, sizeof(reply), Clock::now() + std::chrono::milliseconds(kPingMs));
}

class Registration final : public TitleRegistration {
public:
    Registration(std::string dir, std::string path, int listenFd, struct stat fileStat, HWND window)
        : dir_(std::move(dir)), path_(std::move(path)), listen_(listenFd), file_(fileStat), window_(window),
          token_(NewToken())
    {
    }

    bool Start()
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return false;
        stopRead_.Reset(fds[0]);
        stopWrite_.Reset(fds[1]);
        try {
            thread_ = std::thread([this] { Listen(); });
        } catch (const std::system_error&) {
            return false;
        }
        return true;
    }

    ~Registration() override
    {
        {
            // Remove the file before closing the socket: once closed, another process could
            // take the title over, and its fresh socket must not be removed by us.
            DirectoryLock lock(dir_);
            struct stat now {};
            if (::lstat(path_.c_str(), &now) == 0 && now.st_dev == file_.st_dev && now.st_ino == file_.st_ino)
                ::unlink(path_.c_str());
        }
        if (thread_.joinable()) {
            char c = 0;
            while (::write(stopWrite_.get(), &c, 1) < 0 && errno == EINTR) {
            }
            thread_.join();
        }
        // A send that was just handled (the quit request, typically) still owes its sender
        // the reply; give the answering threads a moment before the process may end. The
        // window is gone by now, so nothing keeps them waiting long.
        std::unique_lock<std::mutex> guard(handlers_->lock);
        handlers_->idle.wait_for(guard, std::chrono::milliseconds(kPingMs), [this] { return handlers_->active == 0; });
    }

private:
    void Listen()
    {
        for (;;) {
            pollfd p[2] = {{listen_.get(), POLLIN, 0}, {stopRead_.get(), POLLIN, 0}};
            if (::poll(p, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            if (p[1].revents)
                return;
            if (!(p[0].revents & POLLIN))
                continue;
            int fd = ::accept4(listen_.get(), nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            {
                std::lock_guard<std::mutex> guard(handlers_->lock);
                ++handlers_->active;
            }
            try {
                std::thread(ServeConnection, fd, window_, token_, handlers_).detach();
            } catch (const std::system_error&) {
                ::close(fd);
                std::lock_guard<std::mutex> guard(handlers_->lock);
                --handlers_->active;
            }
        }
    }

    std::string dir_;
    std::string path_;
    Fd listen_;
    struct stat file_;
    HWND window_;
    std::uint64_t token_;
    Fd stopRead_, stopWrite_;
    std::shared_ptr<Handlers> handlers_ = std::make_shared<Handlers>();
    std::thread thread_;
};

enum class Probe { kNone, kLive, kStale };

Probe ProbePath(const std::string& path)
{
    int fd = Connect(path, kPingMs);
    if (fd >= 0) {
        ::close(fd);
        return Probe::kLive;
    }
    if (errno == ENOENT)
        return Probe::kNone;
    // Nobody listens (its process died), or the file is no socket of ours.
    if (errno == ECONNREFUSED || errno == EACCES || errno == ENOTSOCK)
        return Probe::kStale;
    return Probe::kLive;  // busy or timed out: assume a live owner rather than steal the title
}

}  // namespace

bool SameTitle(const std::string& a, const std::string& b) { return a.size() == b.size() && Lower(a) == Lower(b); }

std::string SocketDirectory()
{
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    if (xdg && *xdg) {
        struct stat st {};
        if (::stat(xdg, &st) == 0 && S_ISDIR(st.st_mode))
            return std::string(xdg) + "/orvanta";
    }
    return "/tmp/orvanta-" + std::to_string(::geteuid());
}

// Letters (folded to lower case), digits, '-' and '_' stay; every other byte becomes %XX,
// so any title gives a valid, unique name. Long titles are hashed to keep the name short.
std::string SocketFileName(const std::string& title)
{
    std::string lower = Lower(title);
    std::string name = "w-";
    static const char hex[] = "0123456789ABCDEF";
    for (unsigned char c : lower) {
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_') {
            name += static_cast<char>(c);
        } else {
            name += '%';
            name += hex[c >> 4];
            name += hex[c & 15];
        }
    }
    if (name.size() <= kMaxEscapedName)
        return name;
    // Two independent 64-bit FNV-1a sums: 128 bits, so distinct titles do not meet by chance.
    std::uint64_t h1 = 0xcbf29ce484222325ULL, h2 = 0x84222325cbf29ce4ULL;
    for (unsigned char c : lower) {
        h1 = (h1 ^ c) * 0x100000001b3ULL;
        h2 = (h2 ^ static_cast<unsigned char>(c ^ 0x5a)) * 0x100000001b3ULL;
    }
    char buffer[40];
    std::snprintf(buffer, sizeof(buffer), "h-%016llx%016llx", static_cast<unsigned long long>(h1),
                  static_cast<unsigned long long>(h2));
    return buffer;
}

std::unique_ptr<TitleRegistration> RegisterTitle(const std::string& title, HWND window)
{
    std::string dir = SocketDirectory();
    if (!PrepareDirectory(dir))
        return nullptr;
    std::string path = dir + "/" + SocketFileName(title);
    DirectoryLock lock(dir);
    if (!lock.ok())
        return nullptr;
    switch (ProbePath(path)) {
    case Probe::kLive: return nullptr;
    case Probe::kStale: ::unlink(path.c_str()); break;
    case Probe::kNone: break;
    }
    SocketAddress address(path);
    if (!address.ok())
        return nullptr;
    Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0)
        return nullptr;
    if (::bind(fd.get(), address.addr(), address.size()) != 0)
        return nullptr;
    struct stat fileStat {};
    if (::lstat(path.c_str(), &fileStat) != 0 || ::listen(fd.get(), 16) != 0) {
        ::unlink(path.c_str());
        return nullptr;
    }
    auto registration = std::make_unique<Registration>(dir, path, fd.release(), fileStat, window);
    if (!registration->Start())
        return nullptr;  // its destructor removes the file
    return registration;
}

bool FindRemoteTitle(const std::string& title, RemoteWindow* found)
{
    std::string dir = SocketDirectory();
    if (!UsableDirectory(dir))
        return false;
    std::string path = dir + "/" + SocketFileName(title);
    Request ping;
    Reply reply;
    if (!Exchange(path, ping, &reply, kPingMs) || reply.status != kOk)
        return false;
    found->path = path;
    found->token = reply.token;
    return true;
}

bool RemoteAlive(const RemoteWindow& window)
{
    Request ping;
    Reply reply;
    return Exchange(window.path, ping, &reply, kPingMs) && reply.status == kOk && reply.token == window.token;
}

bool RemotePost(const RemoteWindow& window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Request request;
    request.kind = kPost;
    request.token = window.token;
    request.message = message;
    request.wParam = wParam;
    request.lParam = lParam;
    Reply reply;
    return Exchange(window.path, request, &reply, kRemoteSendTimeoutMs) && reply.status == kOk;
}

bool RemoteSend(const RemoteWindow& window, UINT message, WPARAM wParam, LPARAM lParam, unsigned timeoutMs,
                LRESULT* result)
{
    Request request;
    request.kind = kSend;
    request.token = window.token;
    request.message = message;
    request.timeoutMs = timeoutMs;
    request.wParam = wParam;
    request.lParam = lParam;
    Reply reply;
    if (!Exchange(window.path, request, &reply, timeoutMs) || reply.status != kOk)
        return false;
    if (result)
        *result = static_cast<LRESULT>(reply.result);
    return true;
}

}  // namespace platform::detail
