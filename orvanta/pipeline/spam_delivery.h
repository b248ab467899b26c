#pragma once

#include <functional>
#include <string>

#include "orvanta/pipeline/examine_settings.h"
#include "orvanta/pipeline/verdict.h"

namespace orvanta::pipeline {

// What became of a message judged spam.
enum class Delivery {
    Stored,       // it is in the store: the server copy may go
    NothingKept,  // the verdict deletes at once and keeps nothing (or only the notice)
    StoreFailed,  // it should have been stored and was not: the server copy must stay
};

// The program's own mails about a spam message. Either may be empty: no warning is sent, and
// a delete-at-once verdict stores nothing.
struct SpamNotices {
    // Sends the warning mail to the sender (called when "USE_WARN" is on).
    std::function<void(const Verdict& verdict, const ExamineSettings& settings)> sendWarning;
    // Overwrites the file with the deletion notice; false when it cannot be written.
    std::function<bool(const std::string& path, const Verdict& verdict)> writeDeletionNotice;
};
// The real ones: the warning of the user's account server and the notice of the deletion.
SpamNotices ProgramSpamNotices();

// Puts a spam message into the store folder (already chosen and encoded), flagged and
// recent. `fileIntact` false means the temporary file is not a faithful copy (a failed
// write): it is then not stored.
Delivery DeliverSpam(const Verdict& verdict, const ExamineSettings& settings, const SpamNotices& notices,
                     const std::string& storeDirectory, const std::string& storeFolder, const std::string& tempPath,
                     bool fileIntact);

}  // namespace orvanta::pipeline
