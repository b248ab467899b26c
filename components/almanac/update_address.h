#pragma once

// The update service address shared by Almanac and Ledgerly. Header-only, so that Ledgerly
// does not have to load Almanac.

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <strings.h>

namespace almanac {

inline constexpr const char kDefaultUpdateURL[] = "http://update.orvanta.example/orvanta";

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

// $ORVANTA_UPDATE_URL (read on every call, so tests can point it at their own server) or
// the compiled default. An unusable override is reported once and ignored.
inline std::string UpdateURL()
{
    const char* env = std::getenv("ORVANTA_UPDATE_URL");
    if (env && *env) {
        std::string url = NormalizeUpdateURL(env);
        if (!url.empty())
            return url;
        static std::atomic_flag reported = ATOMIC_FLAG_INIT;
        if (!reported.test_and_set()) {
            std::fprintf(stderr,
                         "ORVANTA_UPDATE_URL is not an absolute http URL of at most %zu bytes; "
                         "using %s\n",
                         kUpdateURLSize - 1, kDefaultUpdateURL);
        }
    }
    return kDefaultUpdateURL;
}

}  // namespace almanac
