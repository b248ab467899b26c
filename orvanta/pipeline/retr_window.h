#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

class CPop3Account;
class CPop3Client;

namespace orvanta::pipeline {

// A message as the server's LIST and UIDL gave it.
struct ServerMessage {
    int number;
    long size;
    std::string uid;
};

// The RETRs of one examination. A server that allows pipelining gets the RETRs of the next
// few messages before the current one is read and judged, so it sends them meanwhile; they
// go out a few at a time in one write, which wakes the server once for several messages.
// Beyond the next message the RETRs out stay within kAheadBytes: when the examination's time
// is up, what is out is read to its end and dropped, and that must not keep the client
// waiting on a slow line. A server without pipelining gets one RETR at a time.
class RetrWindow {
public:
    static constexpr size_t kWindow = 8;
    static constexpr long kAheadBytes = 256 * 1024;

    // `messages` and `account` (whose history tells which messages are read at all) outlive
    // the window.
    RetrWindow(CPop3Client& client, const std::vector<ServerMessage>& messages, const CPop3Account& account);

    // Asks for message i: the answer to its RETR when that went out ahead, else a RETR now.
    // True when the server said "+OK"; the message follows.
    bool Retrieve(size_t i);
    // Message i is being read: the RETRs of the messages after it that are not in the history
    // go out while the window has room (pipelining servers only).
    void SendAhead(size_t i);
    // Message i will not be read: when its RETR went out ahead, its answer is read and dropped.
    void Drop(size_t i);
    // Drops every answer still on its way.
    void DropAll();

private:
    void Answered();

    CPop3Client& client_;
    const std::vector<ServerMessage>& messages_;
    const CPop3Account& account_;
    const bool pipelined_;
    std::deque<size_t> requested_;  // RETRs out and not answered yet, in order
    long bytesAhead_ = 0;
    size_t nextCandidate_ = 0;  // where the search for the next message to ask for goes on
};

// Reads and drops a message the server is sending, up to its terminating ".".
void DrainMessage(CPop3Client& client);

}  // namespace orvanta::pipeline
