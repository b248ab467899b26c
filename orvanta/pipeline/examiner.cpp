// The examination of new mail: every message on the server that was not examined before is
// retrieved once, judged while it streams into the temporary file, and either offered to
// the mail client or taken out into the spam box.
#include <algorithm>
#include <chrono>
#include <deque>
#include <string>
#include <vector>

#include "fetchling/fetchling.h"
#include "orvanta/core/log.h"
#include "orvanta/pipeline/examine_settings.h"
#include "orvanta/pipeline/filter_checks.h"
#include "orvanta/pipeline/folder_choice.h"
#include "orvanta/pipeline/message_reader.h"
#include "orvanta/pipeline/pipeline.h"
#include "orvanta/pipeline/pipeline_state.h"
#include "orvanta/pipeline/spam_delivery.h"

namespace orvanta::pipeline {
namespace {

constexpr platform::UINT kBusyTimer = 100;
constexpr platform::UINT kBusyTick = 500;

// The tray icon blinks while mail is examined; the pages showing hit counts refresh after.
class BusyIndication {
public:
    BusyIndication(platform::HWND window) : window_(window), hooks_(detail::Hooks()) {
        if (window_) platform::SetTimer(window_, kBusyTimer, kBusyTick);
        if (hooks_.examinationStarted) hooks_.examinationStarted();
    }
    ~BusyIndication() {
        if (hooks_.refreshHitCounts) hooks_.refreshHitCounts();
        if (window_) platform::KillTimer(window_, kBusyTimer);
        if (hooks_.examinationEnded) hooks_.examinationEnded();
    }

private:
    platform::HWND window_;
    UiHooks hooks_;
};

void Offer(ProxyMesgList& list, int number, long size, const char* uid) {
    list.push_back(MakeProxyMesg(number, static_cast<int>(size), uid));
}

struct ServerMessage {
    int number;
    long size;
    std::string uid;
};

// Reads and drops a message the server is sending, up to its terminating ".".
void DrainMessage(CPop3Client& client) {
    std::vector<char> line(MessageReader::kLineSize);
    bool atLineStart = true;
    for (;;) {
        int n = client.ReadLine(line.data(), MessageReader::kLineSize);
        if (n < 0) return;
        const bool ended = client.LastLineEnded();
        if (atLineStart && ended && n == 1 && line[0] == '.') return;
        atLineStart = ended;
    }
}

// Reads and drops the answer to a RETR that went out ahead and is not wanted any more.
void DrainRetr(CPop3TranCommand& command, CPop3Client& client) {
    if (command.CheckOKReply()) DrainMessage(client);
}

}  // namespace

int Examine(const PipelineContext& context, CPop3Client& client, ProxyMesgList& list) {
    // The client waits for its PASS reply during the whole examination and gives up after a
    // minute or two: the examination is bounded, and what is left waits for the next log-in.
    const auto started = std::chrono::steady_clock::now();
    BusyIndication busy(context.window);
    CPop3TranCommand* command = client.GetPop3Command();
    CPop3Account* account = client.GetAccount();
    if (!command || !account || !context.sets) return 0;
    if (!command->List()) return 0;
    // Without UIDL every UID stays empty and every message is examined; a UIDL cut off by the
    // connection would prune the history to part of the mailbox.
    if (!command->Uidl() && command->ListingCut()) return 0;

    account->LoadHistoryFile();
    CPop3Mesg* mesgs = command->GetMesgList();
    std::vector<std::string> uids;
    mesgs->GetUIDList(&uids);
    account->RemoveUidList(uids);

    const ExamineSettings settings = ExamineSettings::Current();
    FilterChecks checks(*context.sets, settings);
    MessageReader reader(checks, context.htmlFooter);
    Pop3LineSource source(client);
    const std::string tempPath = DataPath(context.dataDirectory, "temp.mail");
    Verdict verdict;
    int taken = 0;
    int examined = 0;
    int leftForLater = 0;
    const bool bounded = settings.examSeconds > 0;
    const auto deadline = started + std::chrono::seconds(bounded ? settings.examSeconds : 0);

    std::vector<ServerMessage> messages;
    mesgs->Reset();
    while (mesgs->GetNextMesg()) messages.push_back({mesgs->GetMesgID(), mesgs->GetMesgOctet(), mesgs->GetMesgUID()});

    // A server that allows pipelining gets the RETRs of the next few messages before the
    // current one is read and judged, so it sends them meanwhile; they go out a few at a time
    // in one write, which wakes the server once for several messages. Beyond the next message
    // the RETRs out stay within kAheadBytes: when the time is up, what is out is read to its
    // end and dropped, and that must not keep the client waiting on a slow line. The
    // deletions go out together at the end (a POP3 server carries them out only at QUIT).
    const bool pipelined = client.OffersPipelining();
    constexpr size_t kWindow = 8;
    constexpr long kAheadBytes = 256 * 1024;
    std::deque<const ServerMessage*> requested;   // RETRs out and not answered yet, in order
    long bytesAhead = 0;
    size_t nextCandidate = 0;    // where the search for the next message to request goes on
    auto answered = [&] {
        bytesAhead -= requested.front()->size;
        requested.pop_front();
    };
    auto dropAhead = [&](int number) {
        if (!requested.empty() && requested.front()->number == number) {
            DrainRetr(*command, client);
            answered();
        }
    };
    auto requestAhead = [&](size_t after) {
        if (requested.size() > kWindow / 2) return;
        nextCandidate = std::max(nextCandidate, after + 1);
        std::string batch;
        for (; nextCandidate < messages.size() && requested.size() < kWindow; ++nextCandidate) {
            const ServerMessage& m = messages[nextCandidate];
            if (account->IsExistUID(m.uid.c_str())) continue;
            if (!requested.empty() && bytesAhead + m.size > kAheadBytes) break;
            if (!batch.empty()) batch += "\r\n";
            batch += "RETR " + std::to_string(m.number);
            requested.push_back(&m);
            bytesAhead += m.size;
        }
        if (!batch.empty()) client.SendLine(batch.c_str());   // the line end follows the last command
    };
    std::vector<int> deletions;

    for (size_t i = 0; i < messages.size(); ++i) {
        const int number = messages[i].number;
        const long size = messages[i].size;
        const std::string& uid = messages[i].uid;
        if (account->IsExistUID(uid.c_str())) {
            dropAhead(number);   // a UID the server gave twice
            Offer(list, number, size, uid.c_str());
            continue;
        }
        // Once the time is up no further message is begun; at least one is examined at every
        // log-in, so a slow server still makes progress. A message left here is neither offered
        // nor recorded: it stays on the server and is examined at the next log-in.
        if (bounded && examined > 0 && std::chrono::steady_clock::now() >= deadline) {
            dropAhead(number);
            ++leftForLater;
            continue;
        }
        ++examined;
        verdict.Reset();
        bool retrieved;
        if (!requested.empty() && requested.front()->number == number) {
            retrieved = command->CheckOKReply();
            answered();
        } else {
            retrieved = command->Retr(number);
        }
        if (!retrieved) {
            Offer(list, number, size, uid.c_str());
            continue;
        }
        if (pipelined) requestAhead(i);
        MessageReader::Result read = reader.Read(source, tempPath, verdict);
        if (read == MessageReader::Result::FileError) {
            // The message is on its way all the same: read past it, or the rest of the session
            // would take its lines for the server's answers.
            DrainMessage(client);
            LogUtf8("Mail examination stopped: cannot create " + tempPath);
            break;
        }
        if (read == MessageReader::Result::Broken) {
            // Only part of the message arrived: it is not judged, stays on the server and is
            // examined again at the next log-in.
            LogUtf8("The server connection ended inside message " + std::to_string(number) + ".");
            Offer(list, number, size, uid.c_str());
            continue;
        }

        bool takeOut = false;
        if (verdict.spam) {
            std::string folder = ChooseStoreFolder(context.storeDirectory, verdict.folder);
            Delivery delivery = DeliverSpam(verdict, settings, context.storeDirectory, folder, tempPath,
                                            !reader.WriteFailed());
            if (delivery == Delivery::StoreFailed)
                LogUtf8("Spam message " + std::to_string(number) + " could not be stored in " + folder +
                        "; it stays on the server and is offered to the mail client.");
            takeOut = delivery != Delivery::StoreFailed;
        }
        if (!uid.empty()) account->AddHistory(uid.c_str());
        if (takeOut) {
            deletions.push_back(number);
            ++taken;
        } else {
            Offer(list, number, size, uid.c_str());
        }
    }
    while (!requested.empty()) dropAhead(requested.front()->number);
    if (pipelined) {
        for (int number : deletions) client.SendLine(("DELE " + std::to_string(number)).c_str());
        for (size_t k = 0; k < deletions.size(); ++k) command->CheckOKReply();
    } else {
        for (int number : deletions) command->Dele(number);
    }
    if (leftForLater > 0)
        LogUtf8("Mail examination stopped after " + std::to_string(settings.examSeconds) + " second(s) (EXAM_SECONDS): " +
                std::to_string(leftForLater) + " message(s) on " + account->GetServer() +
                " left for the next log-in.");
    if (taken > 0) LogUtf8("Took " + std::to_string(taken) + " spam message(s) out of " + account->GetServer() + ".");
    return 1;
}

}  // namespace orvanta::pipeline
