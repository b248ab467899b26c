// A POP3 server's side of a whole session, as the client library reads it: the input is what
// a server on a loopback port sends (greeting, CAPA, log-in replies, LIST and UIDL listings,
// a message), and the library runs its commands against it. The connection is real, so the
// line reader's pieces and the listing reader's cut lines are what a server would cause.
#include <arpa/inet.h>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "fetchling/pop3_account.h"
#include "fetchling/pop3_client.h"
#include "fetchling/pop3_tran_command.h"

namespace {

int g_listener = -1;
int g_port = 0;

void Listen()
{
    g_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (g_listener < 0 || ::bind(g_listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(g_listener, 4) != 0 || ::getsockname(g_listener, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        abort();
    g_port = ntohs(a.sin_port);
}

void WriteAll(int fd, const uint8_t* data, size_t size)
{
    while (size > 0) {
        ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        data += n;
        size -= static_cast<size_t>(n);
    }
}

// A message as the examination reads it after RETR: lines up to ".", bounded by what came.
void ReadMessage(CPop3Client& client)
{
    char line[1024];
    while (client.ReadLine(line, sizeof line) >= 0)
        if (client.LastLineEnded() && std::strcmp(line, ".") == 0)
            break;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    signal(SIGPIPE, SIG_IGN);
    Listen();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CPop3Account account("/nonexistent", "fuzz", "127.0.0.1", "user", "password", g_port);
    CPop3Client client;
    client.SetTimeouts(5000, 5000);
    if (client.Connect(&account) != 1)
        abort();
    int server = ::accept(g_listener, nullptr, nullptr);
    if (server < 0)
        abort();
    WriteAll(server, data, size);
    ::shutdown(server, SHUT_WR);

    CPop3TranCommand* command = client.GetPop3Command();
    if (size % 2 == 1) {
        // The proxy's way: the greeting, then CAPA and perhaps STLS, then the log-in.
        char greeting[300];
        client.ReadLine(greeting, sizeof greeting);
        client.NegotiateTls(false);
        (void)client.OffersPipelining();
        command->CheckOKReply();
        command->CheckOKReply();
    } else {
        command->Login();
    }
    if (client.IsConnect()) {
        command->List();
        command->Uidl();
        CPop3Mesg* list = command->GetMesgList();
        list->Reset();
        while (list->GetNextMesg())
            if (std::strlen(list->GetMesgUID()) >= sizeof(Pop3Mail::uid))
                abort();
        std::vector<std::string> uids;
        list->GetUIDList(&uids);
        if (uids.size() != static_cast<size_t>(list->Size()))
            abort();
        if (command->Retr(1))
            ReadMessage(client);
        command->Top(1, 0);
        ReadMessage(client);
        command->Dele(1);
        command->Noop();
        command->Quit();
    }
    client.Close();
    ::close(server);
    return 0;
}
