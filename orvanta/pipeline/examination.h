#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "orvanta/pipeline/retr_window.h"
#include "orvanta/pipeline/spam_delivery.h"
#include "orvanta/pipeline/taken_out_record.h"
#include "orvanta/proxy/pop3_proxy.h"
#include "orvanta/proxy/proxy_mesg.h"
#include "platform/window.h"

class CPop3Client;

namespace winnow {
class CLearningFilter;
}

namespace orvanta::pipeline {

struct FilterSets;

// What every examination works with, made once at start.
struct ExaminationContext {
    platform::HWND window = nullptr;  // the main window: busy indication; may be null
    std::string dataDirectory;        // ends in '/': "temp.mail"
    std::string storeDirectory;       // the store's copy of the data directory
    std::string htmlFooter;           // body of the part added to stored multipart/mixed spam
    FilterSets* sets = nullptr;       // null: nothing is judged, every message is offered
    SpamNotices notices;              // the warning mail and the deletion notice
    // Scores what the filter sets pass and learns from the outcome ("USE_LEARN"); may be null.
    winnow::CLearningFilter* learner = nullptr;
};

// LIST, UIDL, then the account's UID history loaded and pruned to the UIDs still on the
// server: the messages in server order. False when LIST fails or a listing was cut off by the
// connection, before anything was pruned. A server without UIDL leaves every UID empty.
bool ListMailbox(CPop3Client& client, std::vector<ServerMessage>* messages);

// The examination of new mail at one log-in, from the server's "+OK" to PASS to the saved
// history. Every message not examined before is retrieved once, judged while it streams into
// the temporary file, and either offered to the mail client or taken out into the spam box
// and deleted on the server. The client waits for its PASS reply meanwhile and gives up
// after a minute or two, so the examination is bounded by "EXAM_SECONDS": what is left waits
// for the next log-in.
//
// A message taken out is deleted on the server only when the session's QUIT commits it. Until
// the server has confirmed that QUIT its UID stays in the mailbox's taken-out record (written
// before the history that names it as examined): a later log-in hides it from the client and
// deletes it again. Before that QUIT, what the session stored is forced to disk.
//
// One object serves every session of the POP3 proxy, one at a time, on its relay thread.
class Examination {
public:
    explicit Examination(ExaminationContext context);

    // Fills `list` with the messages offered to the client; 1 done (the history is saved),
    // 0 failed (nothing is saved).
    int Run(CPop3Client& client, ProxyMesgList& list);
    // The session's QUIT is about to commit its deletions: forces what it stored to disk.
    // False when that failed (the deletions must then wait).
    bool BeforeCommit();
    // The server said "+OK" to that QUIT: the deletions it confirmed leave the record.
    void Committed();
    // Run and the two commit steps, as the POP3 proxy calls them.
    CPop3Proxy::Examiner Examiner();

private:
    // A message to be deleted on the server.
    struct TakenOut {
        int number;
        std::string uid;
    };
    // With no filter sets: every message offered, every new UID recorded, nothing retrieved.
    void OfferAll(CPop3Account& account, const std::vector<ServerMessage>& messages, ProxyMesgList& list);
    // `started` is when the log-in's examination began: "EXAM_SECONDS" counts from there.
    // The spam taken out is appended to `takenOut`; its DELEs are the caller's.
    void JudgeAll(CPop3Client& client, const std::vector<ServerMessage>& messages,
                  std::chrono::steady_clock::time_point started, ProxyMesgList& list, std::vector<TakenOut>& takenOut);
    // Sends the DELEs; the UIDs the server accepted them for go to `accepted`.
    static void Delete(CPop3Client& client, const std::vector<TakenOut>& takenOut, std::vector<std::string>& accepted);

    ExaminationContext context_;

    // The session in progress, for the commit steps.
    std::mutex sessionLock_;
    TakenOutRecord record_;
    std::vector<std::string> deleted_;  // UIDs whose DELE the server accepted
};

}  // namespace orvanta::pipeline
