#include "platform/http.h"

#include "platform/files.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>
#include <string_view>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

#include <curl/curl.h>

namespace platform {

namespace {

constexpr long kConnectTimeoutMs = 5000;
constexpr long kMaxRedirects = 5;
constexpr long kStallSeconds = 60;
// The read buffer of the line reader and the piece a download writes between progress calls.
constexpr size_t kPiece = 4096;
// A line that fills the buffer leaves room for the terminating NUL of the original call.
constexpr size_t kLineMax = kPiece - 1;
constexpr const char* kUserAgent = "Orvanta";

bool GlobalInit()
{
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ready;
}

std::string ErrnoText(int err) { return std::system_category().message(err); }

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// The value of the header `name` when `line` is that header.
bool HeaderValue(std::string_view line, std::string_view name, std::string_view* value)
{
    if (line.size() <= name.size() || line[name.size()] != ':' || !EqualNoCase(line.substr(0, name.size()), name))
        return false;
    *value = Trim(line.substr(name.size() + 1));
    return true;
}

// A Content-Length value; -1 unless it is a plain decimal number.
long long ParseLength(std::string_view text)
{
    long long value = -1;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 0)
        return -1;
    return value;
}

// What the header callback learnt about the answer being received. A redirect's answer is
// replaced by the next one's, so after the transfer it describes the last answer.
struct Response {
    long status = 0;
    std::string reason;
    long long contentLength = -1;
    bool hasLocation = false;

    bool Success() const { return status >= 200 && status < 300; }
    // What libcurl follows: a 3xx with a Location, except "not modified".
    bool Redirect() const { return status >= 300 && status < 400 && status != 304 && hasLocation; }
};

struct Transfer {
    std::string url;
    bool probe = false;  // the size probe: HTTP/1.0, no cache headers, stop once the headers are in
    // Gets the body of a 2xx answer; false stops the transfer.
    std::function<bool(const char* data, size_t size)> sink;

    std::string caFile;  // the extra trust anchor in use
    Response response;
    bool stoppedAtHeaders = false;
    bool refusedBody = false;  // the answer was not 2xx, so its body was not taken
    std::exception_ptr thrown;
    CURLcode result = CURLE_OK;
    char errorText[CURL_ERROR_SIZE] = {};

    bool Succeeded() const { return result == CURLE_OK && response.Success(); }

    // A one-line reason for a transfer that did not succeed.
    std::string Failure() const
    {
        if (result == CURLE_OK || refusedBody) {
            // The server answered, but not with the document.
            std::string text = url + ": HTTP " + std::to_string(response.status);
            if (!response.reason.empty())
                text += " " + response.reason;
            return text;
        }
        if (result == CURLE_SSL_CACERT_BADFILE && !caFile.empty())
            return "cannot load the trust anchor " + caFile + " named by ORVANTA_CA_FILE";
        return url + ": " + (errorText[0] ? errorText : curl_easy_strerror(result));
    }
};

size_t OnHeader(char* data, size_t size, size_t count, void* user)
{
    auto* t = static_cast<Transfer*>(user);
    size_t n = size * count;
    std::string_view line(data, n);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    std::string_view value;
    if (line.substr(0, 5) == "HTTP/") {
        // "HTTP/1.1 404 Not Found": a new answer begins.
        t->response = Response{};
        size_t code = line.find(' ');
        if (code != std::string_view::npos) {
            std::string_view rest = line.substr(code + 1);
            size_t reason = rest.find(' ');
            std::string_view digits = rest.substr(0, reason);
            std::from_chars(digits.data(), digits.data() + digits.size(), t->response.status);
            if (reason != std::string_view::npos)
                t->response.reason = std::string(Trim(rest.substr(reason + 1)));
        }
    } else if (line.empty()) {
        // The blank line after the headers. The probe has what it came for, unless libcurl is
        // about to follow a redirect.
        if (t->probe && !t->response.Redirect()) {
            t->stoppedAtHeaders = true;
            return 0;
        }
    } else if (HeaderValue(line, "Content-Length", &value)) {
        t->response.contentLength = ParseLength(value);
    } else if (HeaderValue(line, "Location", &value)) {
        t->response.hasLocation = !value.empty();
    }
    return n;
}

size_t OnBody(char* data, size_t size, size_t count, void* user)
{
    auto* t = static_cast<Transfer*>(user);
    size_t n = size * count;
    if (t->response.Redirect())
        return n;  // a redirect's own page
    if (!t->response.Success()) {
        t->refusedBody = true;  // an error page is not the document; the status says enough
        return 0;
    }
    try {
        return t->sink(data, n) ? n : 0;
    } catch (...) {
        // No exception may cross libcurl; it is raised again once the transfer has ended.
        t->thrown = std::current_exception();
        return 0;
    }
}

struct EasyFree {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ListFree {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

void Perform(Transfer& t)
{
    if (!GlobalInit()) {
        t.result = CURLE_FAILED_INIT;
        return;
    }
    std::unique_ptr<CURL, EasyFree> handle(curl_easy_init());
    if (!handle) {
        t.result = CURLE_OUT_OF_MEMORY;
        return;
    }
    CURL* h = handle.get();
    std::unique_ptr<curl_slist, ListFree> headers;
    if (!t.probe) {
        for (const char* header : {"Cache-Control: no-cache", "Pragma: no-cache"}) {
            curl_slist* list = curl_slist_append(headers.get(), header);
            if (!list) {
                t.result = CURLE_OUT_OF_MEMORY;
                return;
            }
            headers.release();  // the same list, one entry longer
            headers.reset(list);
        }
    }
    // Like the TLS sessions of the mail connections: the extra anchor adds to the system's
    // trust store. CURLOPT_CAINFO only replaces the bundle file; libcurl's CA directory (the
    // system store, /etc/ssl/certs) stays in use beside it.
    const char* caFile = std::getenv("ORVANTA_CA_FILE");
    t.caFile = caFile ? caFile : "";

    bool ok = true;
    auto set = [&](CURLoption option, auto value) { ok = ok && curl_easy_setopt(h, option, value) == CURLE_OK; };
    set(CURLOPT_URL, t.url.c_str());
    set(CURLOPT_ERRORBUFFER, t.errorText);
    // Worker threads: no signals for time-outs, and none of the process's handlers touched.
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_MAXREDIRS, kMaxRedirects);
    set(CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
    set(CURLOPT_LOW_SPEED_LIMIT, 1L);
    set(CURLOPT_LOW_SPEED_TIME, kStallSeconds);
    set(CURLOPT_USERAGENT, kUserAgent);
    set(CURLOPT_BUFFERSIZE, static_cast<long>(kPiece));
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSL_VERIFYHOST, 2L);
    if (!t.caFile.empty())
        set(CURLOPT_CAINFO, t.caFile.c_str());
    if (t.probe)
        set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    else
        set(CURLOPT_HTTPHEADER, headers.get());
    set(CURLOPT_HEADERFUNCTION, OnHeader);
    set(CURLOPT_HEADERDATA, &t);
    set(CURLOPT_WRITEFUNCTION, OnBody);
    set(CURLOPT_WRITEDATA, &t);
    if (!ok) {
        t.result = CURLE_FAILED_INIT;
        return;
    }
    t.result = curl_easy_perform(h);
}

// Splits a document into lines as a line read into a kPiece-byte buffer returns them.
class LineSplitter {
public:
    explicit LineSplitter(std::vector<std::string>* lines) : m_lines(lines) {}

    void Feed(const char* data, size_t size)
    {
        for (size_t i = 0; i < size; ++i) {
            char c = data[i];
            if (c == '\n') {
                EndLine();
                continue;
            }
            // A CR is part of the line end only right before the LF; it is held until then.
            if (m_pendingCr) {
                m_pendingCr = false;
                Append('\r');
            }
            if (c == '\r')
                m_pendingCr = true;
            else
                Append(c);
        }
    }

    // The document's last line, when it has no line end.
    void Finish()
    {
        if (m_pendingCr || !m_line.empty())
            EndLine();
    }

private:
    void Append(char c)
    {
        if (m_line.size() == kLineMax)
            EndLine();
        m_line += c;
    }
    void EndLine()
    {
        m_lines->push_back(std::move(m_line));
        m_line.clear();
        m_pendingCr = false;
    }

    std::vector<std::string>* m_lines;
    std::string m_line;
    bool m_pendingCr = false;
};

// The temporary file a download is written to, next to the target so the final rename stays on
// one file system. Removed unless committed.
class PartFile {
public:
    PartFile() = default;
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;
    ~PartFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_path.empty())
            ::unlink(m_path.c_str());
    }

    bool Create(const std::string& target, std::string* error)
    {
        std::filesystem::path path(target);
        if (!path.has_filename()) {
            *error = "no file name in " + target;
            return false;
        }
        m_target = target;
        std::random_device random;
        for (int attempt = 0; attempt < 16; ++attempt) {
            char suffix[32];
            std::snprintf(suffix, sizeof suffix, ".%08x.part", static_cast<unsigned>(random()));
            // Appended piece by piece: "." + name draws a false -Wrestrict from GCC 12 at -O3.
            std::string name = ".";
            name += path.filename().string();
            name += suffix;
            std::filesystem::path part = path.parent_path() / name;
            int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                m_fd = fd;
                m_path = part.string();
                return true;
            }
            if (errno != EEXIST) {
                *error = "cannot create " + part.string() + ": " + ErrnoText(errno);
                return false;
            }
        }
        *error = "cannot create a temporary file beside " + target;
        return false;
    }

    bool Write(const char* data, size_t size, std::string* error)
    {
        while (size > 0) {
            ssize_t n = ::write(m_fd, data, size);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                *error = "cannot write " + m_path + ": " + ErrnoText(n < 0 ? errno : EIO);
                return false;
            }
            data += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }

    // Puts the complete file under the target's name. On disk first: after a crash the target
    // is either the old file or the whole new one.
    bool Commit(std::string* error)
    {
        int fd = m_fd;
        m_fd = -1;
        bool synced = ::fsync(fd) == 0;
        int syncErr = errno;
        if (::close(fd) != 0 || !synced) {
            *error = "cannot write " + m_path + ": " + ErrnoText(synced ? errno : syncErr);
            return false;
        }
        if (::rename(m_path.c_str(), m_target.c_str()) != 0) {
            *error = "cannot rename " + m_path + " to " + m_target + ": " + ErrnoText(errno);
            return false;
        }
        m_path.clear();
        return true;
    }

private:
    int m_fd = -1;
    std::string m_path;
    std::string m_target;
};

}  // namespace

bool HttpReadLines(const std::string& url, std::vector<std::string>* lines, std::string* error)
{
    std::string ignored;
    if (!error)
        error = &ignored;
    std::vector<std::string> got;
    LineSplitter splitter(&got);
    Transfer t;
    t.url = url;
    t.sink = [&](const char* data, size_t size) {
        splitter.Feed(data, size);
        return true;
    };
    Perform(t);
    if (t.thrown)
        std::rethrow_exception(t.thrown);
    if (!t.Succeeded()) {
        *error = t.Failure();
        if (lines)
            lines->clear();
        return false;
    }
    splitter.Finish();
    if (lines)
        *lines = std::move(got);
    error->clear();
    return true;
}

HttpDownloadResult HttpDownload(const std::string& url, const std::string& targetPath, const HttpProgress& progress,
                                std::string* error)
{
    std::string ignored;
    if (!error)
        error = &ignored;
    PartFile part;
    if (!part.Create(targetPath, error))
        return HttpDownloadResult::kFailed;
    long long received = 0;
    bool cancelled = false;
    std::string writeError;
    Transfer t;
    t.url = url;
    t.sink = [&](const char* data, size_t size) {
        while (size > 0) {
            size_t piece = std::min(size, kPiece);
            if (!part.Write(data, piece, &writeError))
                return false;
            data += piece;
            size -= piece;
            received += static_cast<long long>(piece);
            if (progress && !progress(received, t.response.contentLength)) {
                cancelled = true;
                return false;
            }
        }
        return true;
    };
    Perform(t);
    if (t.thrown)
        std::rethrow_exception(t.thrown);
    if (cancelled) {
        *error = "cancelled";
        return HttpDownloadResult::kCancelled;
    }
    if (!writeError.empty()) {
        *error = writeError;
        return HttpDownloadResult::kFailed;
    }
    if (!t.Succeeded()) {
        *error = t.Failure();
        return HttpDownloadResult::kFailed;
    }
    if (!part.Commit(error))
        return HttpDownloadResult::kFailed;
    error->clear();
    return HttpDownloadResult::kDone;
}

long long HttpContentLength(const std::string& url)
{
    Transfer t;
    t.url = url;
    t.probe = true;
    t.sink = [](const char*, size_t) { return false; };  // not reached: the transfer stops at the headers
    Perform(t);
    bool answered = t.stoppedAtHeaders || t.result == CURLE_OK;
    if (!answered)
        return kHttpNotReached;
    if (!t.response.Success())
        return -1;
    return t.response.contentLength;
}

}  // namespace platform
