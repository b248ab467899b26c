#include "orvanta/core/servers.h"

#include <array>
#include <mutex>

#include "orvanta/core/log.h"
#include "orvanta/core/settings.h"
#include "orvanta/core/texts.h"

namespace orvanta {
namespace {

struct Registry {
    std::mutex lock;
    std::array<ServerControl, static_cast<size_t>(ServerSlot::Count)> slots;
    MessageBoxHook messageBox;
};

Registry& Servers() {
    static Registry r;
    return r;
}

const char* SlotName(ServerSlot slot) {
    switch (slot) {
    case ServerSlot::Smtp: return "SMTP proxy";
    case ServerSlot::Pop3: return "POP3 proxy";
    case ServerSlot::Imap: return "IMAP server";
    default: return "server";
    }
}

}  // namespace

void RegisterServer(ServerSlot slot, ServerControl control) {
    std::lock_guard guard(Servers().lock);
    Servers().slots.at(static_cast<size_t>(slot)) = std::move(control);
}

void UnregisterServers() {
    std::lock_guard guard(Servers().lock);
    for (auto& s : Servers().slots) s = ServerControl{};
}

void SetMessageBoxHook(MessageBoxHook hook) {
    std::lock_guard guard(Servers().lock);
    Servers().messageBox = std::move(hook);
}

void ShowMessageBox(const std::string& cp949) {
    MessageBoxHook hook;
    {
        std::lock_guard guard(Servers().lock);
        hook = Servers().messageBox;
    }
    if (hook)
        hook(cp949, text::Get(text::Id::Caption));
    else
        LogText(cp949);
}

int StartServers() {
    struct Step {
        ServerSlot slot;
        IntSetting port;
        text::Id failure;
    };
    const Step steps[] = {
        {ServerSlot::Smtp, IntSetting::SmtpPort, text::Id::SmtpStartFailed},
        {ServerSlot::Pop3, IntSetting::Pop3Port, text::Id::Pop3StartFailed},
        {ServerSlot::Imap, IntSetting::ImapPort, text::Id::ImapStartFailed},
    };
    int failures = 0;
    for (const Step& step : steps) {
        ServerControl control;
        {
            std::lock_guard guard(Servers().lock);
            control = Servers().slots.at(static_cast<size_t>(step.slot));
        }
        if (!control.start) continue;
        if (control.isRunning && control.isRunning()) continue;
        int port = GetSetting(step.port);
        if (control.start(port)) {
            LogUtf8(std::string(SlotName(step.slot)) + " listening on port " + std::to_string(port));
            continue;
        }
        ++failures;
        std::string detail = control.failureDetail ? control.failureDetail() : std::string();
        std::string line = std::string(SlotName(step.slot)) + ": cannot listen on port " + std::to_string(port);
        if (!detail.empty()) line += " (" + detail + ")";
        if (port > 0 && port < 1024) line += "; ports below 1024 need root or CAP_NET_BIND_SERVICE";
        LogUtf8(line);
        ShowMessageBox(text::Get(step.failure));
    }
    return failures;
}

void StopServers() {
    const ServerSlot order[] = {ServerSlot::Smtp, ServerSlot::Imap, ServerSlot::Pop3};
    for (ServerSlot slot : order) {
        ServerControl control;
        {
            std::lock_guard guard(Servers().lock);
            control = Servers().slots.at(static_cast<size_t>(slot));
        }
        if (control.stop && (!control.isRunning || control.isRunning())) control.stop();
    }
}

}  // namespace orvanta
