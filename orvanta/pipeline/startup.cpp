// Plugs the pipeline into the program's start-up and main window.
#include "orvanta/core/application.h"
#include "orvanta/core/paths.h"
#include "orvanta/pipeline/pipeline.h"
#include "orvanta/pipeline/spam_delivery.h"
#include "orvanta/pipeline/spam_notices.h"
#include "orvanta/pipeline/warning_mail.h"
#include "orvanta/proxy/pop3_proxy.h"

#include <utility>

namespace orvanta::pipeline {
namespace {

const bool g_registered = [] {
    AddStartupHook([](Application& application) {
        const AppPaths& paths = Paths();
        CreateFilterSets(application.MainWindow(), paths.dataDirectory, paths.storeDirectory);
        if (CPop3Proxy* pop3 = application.Pop3Proxy())
            pop3->SetExaminer([](CPop3Client& client, ProxyMesgList& list) { return Examine(client, list); });
        EnsureInbox();
        LoadWarningTexts(paths.dataDirectory);
        SpamNotices notices;
        notices.sendWarning = [](const Verdict& verdict, const ExamineSettings& settings) {
            SendWarningMail(verdict.from, verdict.to, settings.selectWarn);
        };
        notices.writeDeletionNotice = [](const std::string& path, const Verdict& verdict) {
            return WriteDeletionNotice(path, verdict.from, verdict.to, verdict.subject, verdict.rule);
        };
        SetSpamNotices(std::move(notices));
    });
    SetMessageHandler(kMsgImap, [](platform::HWND, platform::WPARAM wParam, platform::LPARAM) {
        return OnImapMessage(wParam);
    });
    return true;
}();

}  // namespace
}  // namespace orvanta::pipeline
