#include "orvanta/core/log.h"

#include <atomic>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

#include "platform/codepage.h"

namespace orvanta {
namespace {

std::atomic<bool> g_toStdout{false};
std::mutex g_lock;

void Emit(std::string_view utf8)
{
    if (!g_toStdout.load())
        return;
    char stamp[32];
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::lock_guard guard(g_lock);
    std::fprintf(stdout, "%s %.*s\n", stamp, static_cast<int>(utf8.size()), utf8.data());
    std::fflush(stdout);
}

}  // namespace

void SetLogToStdout(bool on) { g_toStdout.store(on); }

void LogText(std::string_view cp949)
{
    if (!g_toStdout.load())
        return;
    Emit(platform::Cp949ToUtf8(cp949));
}

void LogUtf8(std::string_view utf8) { Emit(utf8); }

}  // namespace orvanta
