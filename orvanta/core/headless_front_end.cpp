#include "orvanta/core/headless_front_end.h"

#include "orvanta/core/log.h"
#include "platform/window.h"

namespace orvanta {

int HeadlessFrontEnd::RunMessageLoop() { return platform::RunMessageLoop(); }

void HeadlessFrontEnd::ShowMessageBox(const std::string& text, const std::string& /*caption*/) { LogText(text); }

bool HeadlessFrontEnd::AskOkCancel(const std::string& text, const std::string& /*caption*/)
{
    LogText(text);
    LogUtf8("(no display to ask on: Cancel)");
    return false;
}

void HeadlessFrontEnd::ShowMainWindow() { LogUtf8("Asked to show the main window (no window in headless mode)."); }

void HeadlessFrontEnd::ShowNotice(const std::string& cp949Text)
{
    LogUtf8("Notice of the update service:");
    // One log line per line of the notice; the text begins with a line end of its own.
    size_t from = cp949Text.compare(0, 2, "\r\n") == 0 ? 2 : 0;
    if (from >= cp949Text.size()) {
        LogUtf8("(no text)");
        return;
    }
    while (from <= cp949Text.size()) {
        size_t end = cp949Text.find("\r\n", from);
        if (end == std::string::npos)
            end = cp949Text.size();
        LogText(cp949Text.substr(from, end - from));
        from = end + 2;
    }
}

std::optional<std::string> HeadlessFrontEnd::AskAddBlockRule(const std::string& from, const std::string& /*mailbox*/)
{
    LogUtf8("Not added to the private block rules without a prompt to confirm it: " + from);
    return std::nullopt;
}

std::optional<std::string> HeadlessFrontEnd::AskAddPassEntry(const std::string& from)
{
    LogUtf8("Not added to the pass list without a prompt to confirm it: " + from);
    return std::nullopt;
}

std::optional<SmtpServerChoice> HeadlessFrontEnd::ChooseSmtpServer(const std::vector<std::string>& servers)
{
    // Nobody to ask: the first account's server, asked again at the next session.
    if (servers.empty())
        return std::nullopt;
    return SmtpServerChoice{0, false};
}

}  // namespace orvanta
