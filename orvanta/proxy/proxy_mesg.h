#pragma once

#include <vector>

// One message the POP3 proxy offers to the mail client, in server order. The client's
// message number n is the n-th record (1-based).
struct PROXY_MESG {
    int number = 0;      // the message's number on the real server
    int size = 0;        // octets, as the server's LIST gave them
    char uid[100] = {};  // the server's UIDL value (at most 99 bytes), empty if none
};

using ProxyMesgList = std::vector<PROXY_MESG>;

// Builds a record; the UID is cut to 99 bytes.
PROXY_MESG MakeProxyMesg(int number, int size, const char* uid);

// Server number of the client's message n; 0 when n is out of range (the real server then
// rejects the command with its own error reply).
int ServerNumber(const ProxyMesgList& list, int n);
