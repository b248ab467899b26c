#include "orvanta/pipeline/spam_delivery.h"

#include "harborage/mail_store.h"
#include "orvanta/pipeline/spam_notices.h"
#include "orvanta/pipeline/warning_mail.h"

namespace orvanta::pipeline {
namespace {

bool Store(const std::string& storeDirectory, const std::string& folder, const std::string& path)
{
    // Only the new record is written: a rescan of the whole spam box for every message stored
    // would cost the square of its size; the client's next SELECT reads the folder anyway.
    CIMAPMail store(storeDirectory.c_str());
    store.BindFolder(folder.c_str());
    return store.AddTempMailMesg(folder.c_str(), path.c_str(), false, false, true, false, false, true, "", "") == 1;
}

}  // namespace

SpamNotices ProgramSpamNotices()
{
    SpamNotices notices;
    notices.sendWarning = [](const Verdict& verdict, const ExamineSettings& settings) {
        SendWarningMail(verdict.from, verdict.to, settings.selectWarn);
    };
    notices.writeDeletionNotice = [](const std::string& path, const Verdict& verdict) {
        return WriteDeletionNotice(path, verdict.from, verdict.to, verdict.subject, verdict.rule);
    };
    return notices;
}

Delivery DeliverSpam(const Verdict& verdict, const ExamineSettings& settings, const SpamNotices& notices,
                     const std::string& storeDirectory, const std::string& storeFolder, const std::string& tempPath,
                     bool fileIntact)
{
    if (settings.useWarn && notices.sendWarning)
        notices.sendWarning(verdict, settings);

    const bool deleteAtOnce = verdict.action == 1 || settings.delTerm == 1;
    if (!deleteAtOnce) {
        if (!fileIntact)
            return Delivery::StoreFailed;
        return Store(storeDirectory, storeFolder, tempPath) ? Delivery::Stored : Delivery::StoreFailed;
    }
    // Deleting at once keeps at most the notice, never the message; a notice that cannot be
    // written or stored loses nothing of the message beyond what the verdict asked for.
    if (settings.delLog && notices.writeDeletionNotice && notices.writeDeletionNotice(tempPath, verdict))
        Store(storeDirectory, storeFolder, tempPath);
    return Delivery::NothingKept;
}

}  // namespace orvanta::pipeline
