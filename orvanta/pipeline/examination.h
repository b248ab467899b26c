#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "orvanta/pipeline/retr_window.h"
#include "orvanta/pipeline/spam_delivery.h"
#include "orvanta/proxy/pop3_proxy.h"
#include "orvanta/proxy/proxy_mesg.h"
#include "platform/window.h"

class CPop3Client;

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
// One object serves every session of the POP3 proxy, one at a time, on its relay thread.
class Examination {
public:
    explicit Examination(ExaminationContext context);

    // Fills `list` with the messages offered to the client; 1 done (the history is saved),
    // 0 failed (nothing is saved).
    int Run(CPop3Client& client, ProxyMesgList& list);
    // Run, as the POP3 proxy calls it.
    CPop3Proxy::Examiner Examiner();

private:
    // With no filter sets: every message offered, every new UID recorded, nothing retrieved.
    void OfferAll(CPop3Account& account, const std::vector<ServerMessage>& messages, ProxyMesgList& list);
    // `started` is when the log-in's examination began: "EXAM_SECONDS" counts from there.
    void JudgeAll(CPop3Client& client, const std::vector<ServerMessage>& messages,
                  std::chrono::steady_clock::time_point started, ProxyMesgList& list);

    ExaminationContext context_;
};

}  // namespace orvanta::pipeline
