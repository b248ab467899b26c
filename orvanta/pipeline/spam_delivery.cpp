#include "orvanta/pipeline/spam_delivery.h"

#include <mutex>

#include "harborage/mail_store.h"

namespace orvanta::pipeline {
namespace {

std::mutex g_noticesLock;
SpamNotices g_notices;

SpamNotices Notices() {
    std::lock_guard guard(g_noticesLock);
    return g_notices;
}

bool Store(const std::string& storeDirectory, const std::string& folder, const std::string& path) {
    // Only the new record is written: a rescan of the whole spam box for every message stored
    // would cost the square of its size; the client's next SELECT reads the folder anyway.
    CIMAPMail store(storeDirectory.c_str());
    store.BindFolder(folder.c_str());
    return store.AddTempMailMesg(folder.c_str(), path.c_str(), false, false, true, false, false, true, "", "") == 1;
}

}  // namespace

void SetSpamNotices(SpamNotices notices) {
    std::lock_guard guard(g_noticesLock);
    g_notices = std::move(notices);
}

Delivery DeliverSpam(const Verdict& verdict, const ExamineSettings& settings, const std::string& storeDirectory,
                     const std::string& storeFolder, const std::string& tempPath, bool fileIntact) {
    SpamNotices notices = Notices();
    if (settings.useWarn && notices.sendWarning) notices.sendWarning(verdict, settings);

    const bool deleteAtOnce = verdict.action == 1 || settings.delTerm == 1;
    if (!deleteAtOnce) {
        if (!fileIntact) return Delivery::StoreFailed;
        return Store(storeDirectory, storeFolder, tempPath) ? Delivery::Stored : Delivery::StoreFailed;
    }
    // Deleting at once keeps at most the notice, never the message; a notice that cannot be
    // written or stored loses nothing of the message beyond what the verdict asked for.
    if (settings.delLog && notices.writeDeletionNotice && notices.writeDeletionNotice(tempPath, verdict))
        Store(storeDirectory, storeFolder, tempPath);
    return Delivery::NothingKept;
}

}  // namespace orvanta::pipeline
