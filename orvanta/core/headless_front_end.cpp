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

bool HeadlessFrontEnd::AskAddBlockRule(const std::string& from, const std::string& /*mailbox*/)
{
    LogUtf8("Not added to the private block rules without a prompt to confirm it: " + from);
    return false;
}

bool HeadlessFrontEnd::AskAddPassEntry(const std::string& from)
{
    LogUtf8("Not added to the pass list without a prompt to confirm it: " + from);
    return false;
}

}  // namespace orvanta
