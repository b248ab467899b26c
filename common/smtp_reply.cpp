#include "common/smtp_reply.h"

#include <vector>

#include "common/client_socket.h"

namespace smtpreply {

bool IsFinalLine(std::string_view line)
{
    if (line.size() > 3)
        return line[3] != '-';
    return line.size() == 3 && line[0] >= '0' && line[0] <= '9' && line[1] >= '0' && line[1] <= '9' && line[2] >= '0' &&
           line[2] <= '9';
}

bool ReadReply(CClientSocket& server, int readSize, std::string* wire, int* code)
{
    if (code)
        *code = 0;
    if (readSize < 2)
        return false;
    std::vector<char> buffer(static_cast<size_t>(readSize));
    for (int count = 0; count < kMaxReplyLines; ++count) {
        std::string line;
        for (;;) {
            int n = server.ReadLine(buffer.data(), readSize);
            if (n < 0)
                return false;
            line.append(buffer.data(), static_cast<size_t>(n));
            if (server.LastLineEnded())
                break;
            if (line.size() > kMaxReplyLine)
                return false;
        }
        if (line.empty())
            return false;
        if (wire) {
            wire->append(line);
            wire->append("\r\n");
        }
        if (IsFinalLine(line)) {
            if (code) {
                int value = 0;
                for (size_t i = 0; i < 3 && i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i)
                    value = value * 10 + (line[i] - '0');
                *code = value;
            }
            return true;
        }
    }
    return false;
}

}  // namespace smtpreply
