#pragma once

// The addresses of the maker's services shared by Almanac and Ledgerly: the update service's
// directory and the web server that answers the update check and the notice. Header-only, so
// that Ledgerly does not have to load Almanac.

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <strings.h>

namespace almanac {

inline constexpr const char kDefaultUpdateURL[] = "https://update.orvanta.example/orvanta";
// The host of "/orvanta/jsp/login/CheckUpdate.jsp" and "/orvanta/html/news/notice.html".
inline constexpr const char kDefaultWebURL[] = "https://www.orvanta.example";

// Callers hold the address in a 100-byte buffer.
inline constexpr size_t kUpdateURLSize = 100;

// Returns the value with its trailing slashes removed, or an empty text when it is not an
// absolute http(s) URL with a host that fits the callers' buffer.
inline std::string NormalizeUpdateURL(const char* value)
{
    std::string url = value ? value : "";
    while (!url.empty() && url.back() == '/')
        url.pop_back();
    size_t schemeEnd = 0;
    if (strncasecmp(url.c_str(), "http://", 7) == 0)
        schemeEnd = 7;
    else if (strncasecmp(url.c_str(), "https://", 8) == 0)
        schemeEnd = 8;
    if (schemeEnd == 0 || url.size() <= schemeEnd || url[schemeEnd] == '/')
        return {};
    if (url.size() >= kUpdateURLSize)
        return {};
    for (unsigned char c : url)
        if (c <= ' ' || c >= 0x7F)
            return {};
    return url;
}

namespace detail {

// The environment variable `name` (read on every call, so tests can point it at their own
// server) or `fallback`. An unusable value is reported once per variable and ignored.
inline std::string AddressFromEnvironment(const char* name, const char* fallback, std::atomic_flag& reported)
{
    const char* env = std::getenv(name);
    if (env && *env) {
        std::string url = NormalizeUpdateURL(env);
        if (!url.empty())
            return url;
        if (!reported.test_and_set()) {
            std::fprintf(stderr, "%s is not an absolute http URL of at most %zu bytes; using %s\n", name,
                         kUpdateURLSize - 1, fallback);
        }
    }
    return fallback;
}

}  // namespace detail

// $ORVANTA_UPDATE_URL or the compiled default: the update service's directory, without a
// trailing "/".
inline std::string UpdateURL()
{
    static std::atomic_flag reported = ATOMIC_FLAG_INIT;
    return detail::AddressFromEnvironment("ORVANTA_UPDATE_URL", kDefaultUpdateURL, reported);
}

// $ORVANTA_WEB_URL or the compiled default: scheme and host (and port) of the maker's web
// server, without a trailing "/"; request paths such as "/orvanta/jsp/login/CheckUpdate.jsp"
// are appended to it.
inline std::string WebURL()
{
    static std::atomic_flag reported = ATOMIC_FLAG_INIT;
    return detail::AddressFromEnvironment("ORVANTA_WEB_URL", kDefaultWebURL, reported);
}

}  // namespace almanac
