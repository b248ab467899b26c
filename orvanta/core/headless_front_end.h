#pragma once

#include "orvanta/core/front_end.h"

namespace orvanta {

// The front end without a display: message boxes become log lines, questions take the
// answer of their time-out (no rule or entry is added), the windows and the tray icon do
// not exist, and the main window's messages run on a plain message loop.
class HeadlessFrontEnd : public FrontEnd {
public:
    void CreateWindows() override {}
    void RemoveTrayIcon() override {}
    int RunMessageLoop() override;

    void ShowMessageBox(const std::string& text, const std::string& caption) override;
    // Nobody can answer: Cancel.
    bool AskOkCancel(const std::string& text, const std::string& caption) override;

    void ShowMainWindow() override;
    void HideMainWindow() override {}
    // The notice's lines go to the log.
    void ShowNotice(const std::string& cp949Text) override;

    std::optional<std::string> AskAddBlockRule(const std::string& from, const std::string& mailbox) override;
    std::optional<std::string> AskAddPassEntry(const std::string& from) override;

    void SwapTrayIcon() override {}
    void ExaminationEnded() override {}
    void FiltersChanged() override {}
    std::optional<SmtpServerChoice> ChooseSmtpServer(const std::vector<std::string>& servers) override;
};

}  // namespace orvanta
