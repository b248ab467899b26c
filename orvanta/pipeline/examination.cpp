#include "orvanta/pipeline/examination.h"

#include <chrono>
#include <cstdio>

#include "fetchling/fetchling.h"
#include "harborage/file_handle.h"
#include "orvanta/core/busy_indication.h"
#include "orvanta/core/log.h"
#include "orvanta/pipeline/examine_settings.h"
#include "orvanta/pipeline/filter_checks.h"
#include "orvanta/pipeline/filter_sets.h"
#include "orvanta/pipeline/folder_choice.h"
#include "orvanta/pipeline/learning_step.h"
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
    CPop3Proxy::Examiner examiner([this](CPop3Client& client, ProxyMesgList& list) { return Run(client, list); });
    examiner.beforeCommit = [this] { return BeforeCommit(); };
    examiner.committed = [this] { Committed(); };
    return examiner;
}

int Examination::Run(CPop3Client& client, ProxyMesgList& list)
{
    const auto started = std::chrono::steady_clock::now();
    BusyIndication busy(context_.window);
    {
        std::lock_guard guard(sessionLock_);
        record_ = TakenOutRecord();
        deleted_.clear();
    }
    std::vector<ServerMessage> messages;
    if (!ListMailbox(client, &messages))
        return 0;
    CPop3Account& account = *client.GetAccount();

    // Taken out at an earlier log-in whose QUIT never got through: still spam, not offered,
    // deleted again without being fetched.
    TakenOutRecord record(TakenOutRecord::PathFor(account));
    record.Load();
    std::vector<std::string> present;
    present.reserve(messages.size());
    for (const ServerMessage& m : messages)
        present.push_back(m.uid);
    bool changed = record.KeepOnly(present);
    std::vector<TakenOut> takenOut;
    std::vector<ServerMessage> rest;
    rest.reserve(messages.size());
    for (const ServerMessage& m : messages) {
        if (!m.uid.empty() && record.Contains(m.uid)) {
            takenOut.push_back({m.number, m.uid});
            if (!account.IsExistUID(m.uid.c_str()))
                account.AddHistory(m.uid.c_str());
        } else {
            rest.push_back(m);
        }
    }
    const size_t again = takenOut.size();
    if (context_.sets)
        JudgeAll(client, rest, started, list, takenOut);
    else
        OfferAll(account, rest, list);

    // The record goes to disk before the history that calls these messages examined: a history
    // without it would let the next log-in offer them when this session's QUIT never comes.
    for (size_t i = again; i < takenOut.size(); ++i)
        changed = record.Add(takenOut[i].uid) || changed;
    if (changed && !record.Save()) {
        LogUtf8("Cannot write " + record.Path() + ": the spam taken out now is examined again at the next log-in.");
        for (size_t i = again; i < takenOut.size(); ++i)
            account.RemoveHistory(takenOut[i].uid.c_str());
    }
    account.SaveHistoryFile();

    std::vector<std::string> accepted;
    Delete(client, takenOut, accepted);
    if (again > 0)
        LogUtf8("Deleted again " + std::to_string(again) + " spam message(s) on " + account.GetServer() +
                " taken out before; their deletion was never confirmed.");
    std::lock_guard guard(sessionLock_);
    record_ = std::move(record);
    deleted_ = std::move(accepted);
    return 1;
}

void Examination::Delete(CPop3Client& client, const std::vector<TakenOut>& takenOut, std::vector<std::string>& accepted)
{
    // The deletions go out together at the end (a POP3 server carries them out only at QUIT).
    CPop3TranCommand& command = *client.GetPop3Command();
    auto answered = [&](const TakenOut& t) {
        if (command.CheckOKReply() && !t.uid.empty())
            accepted.push_back(t.uid);
    };
    if (client.OffersPipelining()) {
        for (const TakenOut& t : takenOut)
            client.SendLine(("DELE " + std::to_string(t.number)).c_str());
        for (const TakenOut& t : takenOut)
            answered(t);
    } else {
        for (const TakenOut& t : takenOut) {
            client.SendLine(("DELE " + std::to_string(t.number)).c_str());
            answered(t);
        }
    }
}

bool Examination::BeforeCommit()
{
    if (harborage::SyncNoted())
        return true;
    LogUtf8("The stored spam could not be forced to disk.");
    return false;
}

void Examination::Committed()
{
    std::lock_guard guard(sessionLock_);
    if (record_.Path().empty() || deleted_.empty())
        return;
    for (const std::string& uid : deleted_)
        record_.Remove(uid);
    deleted_.clear();
    // A record left behind only costs the next log-in a look: those UIDs are gone from the server.
    record_.Save();
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
                           std::chrono::steady_clock::time_point started, ProxyMesgList& list,
                           std::vector<TakenOut>& takenOut)
{
    CPop3Account& account = *client.GetAccount();
    const ExamineSettings settings = ExamineSettings::Current();
    FilterChecks checks(*context_.sets, settings);
    MessageReader reader(checks, context_.htmlFooter);
    Pop3LineSource source(client);
    RetrWindow window(client, messages, account);
    LearningStep learning(context_.learner, settings.useLearn, context_.storeDirectory);
    learning.Mature();
    const std::string tempPath = DataPath(context_.dataDirectory, "temp.mail");
    const bool bounded = settings.examSeconds > 0;
    const auto deadline = started + std::chrono::seconds(bounded ? settings.examSeconds : 0);
    Verdict verdict;
    size_t deletions = 0;
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

        if (!reader.WriteFailed())
            learning.Judge(tempPath, verdict);
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
        learning.Outcome(takeOut);
        if (!m.uid.empty())
            account.AddHistory(m.uid.c_str());
        if (takeOut) {
            takenOut.push_back({m.number, m.uid});
            ++deletions;
        } else {
            Offer(list, m);
        }
        // A copy that could not be written whole is of no use to anyone; it would only take
        // room on a disk that may be full.
        if (reader.WriteFailed())
            std::remove(tempPath.c_str());
    }
    window.DropAll();

    if (leftForLater > 0)
        LogUtf8("Mail examination stopped after " + std::to_string(settings.examSeconds) +
                " second(s) (EXAM_SECONDS): " + std::to_string(leftForLater) + " message(s) on " + account.GetServer() +
                " left for the next log-in.");
    if (deletions > 0)
        LogUtf8("Took " + std::to_string(deletions) + " spam message(s) out of " + account.GetServer() + ".");
}

}  // namespace orvanta::pipeline
