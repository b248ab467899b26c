#include "orvanta/pipeline/retr_window.h"

#include <algorithm>

#include "fetchling/fetchling.h"
#include "orvanta/pipeline/message_reader.h"

namespace orvanta::pipeline {

void DrainMessage(CPop3Client& client)
{
    std::vector<char> line(MessageReader::kLineSize);
    bool atLineStart = true;
    for (;;) {
        int n = client.ReadLine(line.data(), MessageReader::kLineSize);
        if (n < 0)
            return;
        const bool ended = client.LastLineEnded();
        if (atLineStart && ended && n == 1 && line[0] == '.')
            return;
        atLineStart = ended;
    }
}

RetrWindow::RetrWindow(CPop3Client& client, const std::vector<ServerMessage>& messages, const CPop3Account& account)
    : client_(client), messages_(messages), account_(account), pipelined_(client.OffersPipelining())
{
}

void RetrWindow::Answered()
{
    bytesAhead_ -= messages_[requested_.front()].size;
    requested_.pop_front();
}

bool RetrWindow::Retrieve(size_t i)
{
    CPop3TranCommand& command = *client_.GetPop3Command();
    if (!requested_.empty() && requested_.front() == i) {
        bool ok = command.CheckOKReply();
        Answered();
        return ok;
    }
    return command.Retr(messages_[i].number);
}

void RetrWindow::SendAhead(size_t i)
{
    if (!pipelined_ || requested_.size() > kWindow / 2)
        return;
    nextCandidate_ = std::max(nextCandidate_, i + 1);
    std::string batch;
    for (; nextCandidate_ < messages_.size() && requested_.size() < kWindow; ++nextCandidate_) {
        const ServerMessage& m = messages_[nextCandidate_];
        if (account_.IsExistUID(m.uid.c_str()))
            continue;
        if (!requested_.empty() && bytesAhead_ + m.size > kAheadBytes)
            break;
        if (!batch.empty())
            batch += "\r\n";
        batch += "RETR " + std::to_string(m.number);
        requested_.push_back(nextCandidate_);
        bytesAhead_ += m.size;
    }
    if (!batch.empty())
        client_.SendLine(batch.c_str());  // the line end follows the last command
}

void RetrWindow::Drop(size_t i)
{
    if (requested_.empty() || requested_.front() != i)
        return;
    if (client_.GetPop3Command()->CheckOKReply())
        DrainMessage(client_);
    Answered();
}

void RetrWindow::DropAll()
{
    while (!requested_.empty())
        Drop(requested_.front());
}

}  // namespace orvanta::pipeline
