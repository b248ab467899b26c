#pragma once

#include <functional>
#include <string>
#include <vector>

// A small HTTP client for the updater and the update check: read a document from the maker's
// web server, download a file, ask a file's size. http:// and https:// URLs only.
//
// Every call opens its own connection as user agent "Orvanta", waits at most 5 s for it,
// follows up to 5 redirects and gives up when the server sends nothing for 60 s. The
// certificates of https servers are checked against the system's trust store, plus the file
// named by $ORVANTA_CA_FILE when it is set, and against the URL's host name (or address). The
// calls keep no state between them and may run on several threads at once.
namespace platform {

// Reads the whole document at `url` into *lines, one entry per line without its LF or CR LF
// (a CR at the very end of the document counts as a line end too), the way a read into a
// 4096-byte buffer returns it: a line longer than 4095 bytes comes in 4095-byte parts, the rest
// following as a line of its own. An end without a line end still gives the last line. Sent
// with "Cache-Control: no-cache" and "Pragma: no-cache". True on a 2xx answer; otherwise
// false, *lines emptied and a one-line reason in *error, such as
// "http://host/news.txt: HTTP 404 Not Found" or the connection's failure.
bool HttpReadLines(const std::string& url, std::vector<std::string>* lines, std::string* error);

// How a download ended.
enum class HttpDownloadResult {
    kDone,       // the file is complete under the target name
    kFailed,     // *error says why; the target was not touched
    kCancelled,  // the progress callback said stop; the target was not touched
};

// Called after each piece of at most 4096 bytes is written: the bytes written so far and the
// size the server announced (Content-Length), or -1 when it announced none. Returning false
// cancels the download before the next piece. May throw; the download is then abandoned
// cleanly and the exception passed on.
using HttpProgress = std::function<bool(long long received, long long total)>;

// Downloads `url` to `targetPath` (an empty `progress` is fine), sent with the same no-cache
// headers. The body goes to a hidden temporary file next to the target and is renamed to the
// target only once complete and on disk, so a failed or cancelled download never leaves a
// partial file under the target's name, and an existing target stays as it was until then.
// kFailed also for an answer other than 2xx, with the reason in *error; on kCancelled *error is
// "cancelled".
HttpDownloadResult HttpDownload(const std::string& url, const std::string& targetPath, const HttpProgress& progress,
                                std::string* error);

// The size of the document at `url` as its server announces it: a GET in HTTP/1.0 with the
// user agent "Orvanta", of which only the headers are read; the connection is dropped as soon
// as they are in. The Content-Length of the 2xx answer, or -1 when it has none or the answer is
// not 2xx; kHttpNotReached when the server cannot be reached.
long long HttpContentLength(const std::string& url);
// What HttpContentLength returns when the server did not answer at all.
inline constexpr long long kHttpNotReached = -2;

}  // namespace platform
