#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "orvanta/core/front_end.h"

// A front end for the tests: it records the boxes it was asked to show and answers the
// prompts as the test tells it (no by default, as an unanswered prompt).
class RecordingFrontEnd : public orvanta::FrontEnd {
public:
    void CreateWindows() override {}
    void RemoveTrayIcon() override {}
    int RunMessageLoop() override { return 0; }
    void ShowMessageBox(const std::string& text, const std::string& caption) override
    {
        messages.push_back(text);
        captions.push_back(caption);
    }
    bool AskOkCancel(const std::string&, const std::string&) override { return false; }
    void ShowMainWindow() override {}
    void HideMainWindow() override { ++hidden; }
    void ShowNotice(const std::string& cp949Text) override { notices.push_back(cp949Text); }
    std::optional<std::string> AskAddBlockRule(const std::string& from, const std::string& mailbox) override
    {
        return askBlock ? askBlock(from, mailbox) : std::nullopt;
    }
    std::optional<std::string> AskAddPassEntry(const std::string& from) override
    {
        return askPass ? askPass(from) : std::nullopt;
    }
    void SwapTrayIcon() override {}
    void ExaminationEnded() override {}
    void FiltersChanged() override {}
    std::optional<orvanta::SmtpServerChoice> ChooseSmtpServer(const std::vector<std::string>&) override
    {
        return std::nullopt;
    }

    std::vector<std::string> messages, captions, notices;
    int hidden = 0;
    std::function<std::optional<std::string>(const std::string& from, const std::string& mailbox)> askBlock;
    std::function<std::optional<std::string>(const std::string& from)> askPass;
};
