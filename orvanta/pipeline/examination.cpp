#include "orvanta/pipeline/examination.h"

#include <chrono>

#include "fetchling/fetchling.h"
#include "orvanta/core/busy_indication.h"
#include "orvanta/core/log.h"
#include "orvanta/pipeline/examine_settings.h"
#include "orvanta/pipeline/filter_checks.h"
#include "orvanta/pipeline/filter_sets.h"
#include "orvanta/pipeline/folder_choice.h"
#include "orvanta/pipeline/message_reader.h"

namespace orvanta::pipeline {
namespace {

void Offer(ProxyMesgList& list, const ServerMessage& m)
{
    list.push_back(MakeProxyMesg(m.number, static_cast<int>(m.size), m.uid.c_str()));
}

}  // namespace

bool ListMailbox(CPop3Client& client, std::vector<ServerMessage>* messages)
{
    CPop3TranCommand* command = client.GetPop3Command();
    CPop3Account* account = client.GetAccount();
    if (!command || !account)
        return false;
    if (!command->List())
        return false;
    // A UIDL cut off by the connection would prune the history to part of the mailbox.
    if (!command->Uidl() && command->ListingCut())
        return false;

    account->LoadHistoryFile();
    CPop3Mesg* mesgs = command->GetMesgList();
    std::vector<std::string> uids;
    mesgs->GetUIDList(&uids);
    account->RemoveUidList(uids);

    messages->clear();
    mesgs->Reset();
    while (mesgs->GetNextMesg())
        messages->push_back({mesgs->GetMesgID(), mesgs->GetMesgOctet(), mesgs->GetMesgUID()});
    return true;
}

Examination::Examination(ExaminationContext context) : context_(std::move(context)) {}

CPop3Proxy::Examiner Examination::Examiner()
{
    return [this](CPop3Client& client, ProxyMesgList& list) { return Run(client, list); };
}

int Examination::Run(CPop3Client& client, ProxyMesgList& list)
{
    const auto started = std::chrono::steady_clock::now();
    BusyIndication busy(context_.window);
    std::vector<ServerMessage> messages;
    if (!ListMailbox(client, &messages))
        return 0;
    CPop3Account& account = *client.GetAccount();
    if (context_.sets)
        JudgeAll(client, messages, started, list);
    else
        OfferAll(account, messages, list);
    account.SaveHistoryFile();
    return 1;
}

void Examination::OfferAll(CPop3Account& account, const std::vector<ServerMessage>& messages, ProxyMesgList& list)
{
    for (const ServerMessage& m : messages) {
        Offer(list, m);
        if (!m.uid.empty() && !account.IsExistUID(m.uid.c_str()))
            account.AddHistory(m.uid.c_str());
    }
}

void Examination::JudgeAll(CPop3Client& client, const std::vector<ServerMessage>& messages,
                           std::chrono::steady_clock::time_point started, ProxyMesgList& list)
{
    CPop3TranCommand& command = *client.GetPop3Command();
    CPop3Account& account = *client.GetAccount();
    const ExamineSettings settings = ExamineSettings::Current();
    FilterChecks checks(*context_.sets, settings);
    MessageReader reader(checks, context_.htmlFooter);
    Pop3LineSource source(client);
    RetrWindow window(client, messages, account);
    const std::string tempPath = DataPath(context_.dataDirectory, "temp.mail");
    const bool bounded = settings.examSeconds > 0;
    const auto deadline = started + std::chrono::seconds(bounded ? settings.examSeconds : 0);
    Verdict verdict;
    std::vector<int> deletions;
    int examined = 0;
    int leftForLater = 0;

    for (size_t i = 0; i < messages.size(); ++i) {
        const ServerMessage& m = messages[i];
        if (account.IsExistUID(m.uid.c_str())) {
            window.Drop(i);  // a UID the server gave twice
            Offer(list, m);
            continue;
        }
        // Once the time is up no further message is begun; at least one is examined at every
        // log-in, so a slow server still makes progress. A message left here is neither offered
        // nor recorded: it stays on the server and is examined at the next log-in.
        if (bounded && examined > 0 && std::chrono::steady_clock::now() >= deadline) {
            window.Drop(i);
            ++leftForLater;
            continue;
        }
        ++examined;
        verdict.Reset();
        if (!window.Retrieve(i)) {
            Offer(list, m);
            continue;
        }
        window.SendAhead(i);
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
            LogUtf8("The server connection ended inside message " + std::to_string(m.number) + ".");
            Offer(list, m);
            continue;
        }

        bool takeOut = false;
        if (verdict.spam) {
            std::string folder = ChooseStoreFolder(context_.storeDirectory, verdict.folder);
            Delivery delivery = DeliverSpam(verdict, settings, context_.notices, context_.storeDirectory, folder,
                                            tempPath, !reader.WriteFailed());
            if (delivery == Delivery::StoreFailed)
                LogUtf8("Spam message " + std::to_string(m.number) + " could not be stored in " + folder +
                        "; it stays on the server and is offered to the mail client.");
            takeOut = delivery != Delivery::StoreFailed;
        }
        if (!m.uid.empty())
            account.AddHistory(m.uid.c_str());
        if (takeOut)
            deletions.push_back(m.number);
        else
            Offer(list, m);
    }
    window.DropAll();

    // The deletions go out together at the end (a POP3 server carries them out only at QUIT).
    if (client.OffersPipelining()) {
        for (int number : deletions)
            client.SendLine(("DELE " + std::to_string(number)).c_str());
        for (size_t k = 0; k < deletions.size(); ++k)
            command.CheckOKReply();
    } else {
        for (int number : deletions)
            command.Dele(number);
    }
    if (leftForLater > 0)
        LogUtf8("Mail examination stopped after " + std::to_string(settings.examSeconds) +
                " second(s) (EXAM_SECONDS): " + std::to_string(leftForLater) + " message(s) on " + account.GetServer() +
                " left for the next log-in.");
    if (!deletions.empty())
        LogUtf8("Took " + std::to_string(deletions.size()) + " spam message(s) out of " + account.GetServer() + ".");
}

}  // namespace orvanta::pipeline
