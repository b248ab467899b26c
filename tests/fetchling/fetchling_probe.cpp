// fetchling_probe HOST PORT USER PASSWORD DATADIR COMMAND...
// Drives Fetchling against a real POP3 server and prints one result line per command:
//   login              "login <result>"
//   list               List() and Uidl(), then "mesg <number> <size> <uid>" per message
//   retr:N:FILE        Retr(N); the message as it came on the wire (up to the final ".")
//                      is written to FILE exactly, long lines joined; "retr <ok> <bytes>"
//   top:N:L            Top(N, L) and the lines up to "."; "top <header lines>"
//   dele:N             "dele <last error>"
//   history            the proxy's examination frame: load, prune, add the new UIDs, save;
//                      "history <new> <total>"
//   quit               QUIT and close
// Only fetchling/fetchling.h is included, as any outside program would.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fetchling/fetchling.h"

namespace {

std::vector<std::string> Split(const std::string& text, char sep)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t pos = text.find(sep, start);
        parts.push_back(text.substr(start, pos - start));
        if (pos == std::string::npos)
            return parts;
        start = pos + 1;
    }
}

// Reads a multi-line answer up to the line "." and returns it with CR LF line ends, the
// pieces of long lines joined; false when the connection ended first.
bool ReadMultiLine(CPop3Client& client, std::string* out)
{
    char buf[2048];
    bool atLineStart = true;
    for (;;) {
        int n = client.ReadLine(buf, sizeof buf);
        if (n < 0)
            return false;
        bool ended = client.LastLineEnded();
        if (atLineStart && ended && n == 1 && buf[0] == '.')
            return true;
        out->append(buf, static_cast<size_t>(n));
        if (ended)
            out->append("\r\n");
        atLineStart = ended;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 7) {
        fprintf(stderr, "usage: %s HOST PORT USER PASSWORD DATADIR COMMAND...\n", argv[0]);
        return 2;
    }
    CPop3Account account(argv[5], argv[1], argv[1], argv[3], argv[4], atoi(argv[2]));
    CPop3Client client;
    client.Pop3Init();
    int rc = client.Connect(&account);
    printf("connect %d\n", rc);
    if (rc != 1)
        return 1;
    CPop3TranCommand* cmd = client.GetPop3Command();
    for (int i = 6; i < argc; ++i) {
        std::vector<std::string> a = Split(argv[i], ':');
        if (a[0] == "login") {
            printf("login %d\n", client.Login());
        } else if (a[0] == "list") {
            bool listed = cmd->List();
            bool uidl = cmd->Uidl();
            printf("list %d %d %d\n", listed, uidl, cmd->GetMesgList()->Size());
            CPop3Mesg* list = cmd->GetMesgList();
            list->Reset();
            while (list->GetNextMesg())
                printf("mesg %d %ld %s\n", list->GetMesgID(), list->GetMesgOctet(), list->GetMesgUID());
        } else if (a[0] == "retr" && a.size() == 3) {
            bool ok = cmd->Retr(atoi(a[1].c_str()));
            std::string data;
            if (ok && !ReadMultiLine(client, &data))
                ok = false;
            FILE* f = fopen(a[2].c_str(), "wb");
            if (f) {
                fwrite(data.data(), 1, data.size(), f);
                fclose(f);
            }
            printf("retr %d %zu\n", ok, data.size());
        } else if (a[0] == "top" && a.size() == 3) {
            cmd->Top(atoi(a[1].c_str()), atoi(a[2].c_str()));
            std::string data;
            ReadMultiLine(client, &data);
            int lines = 0;
            for (char c : data)
                lines += c == '\n';
            printf("top %d\n", lines);
        } else if (a[0] == "dele" && a.size() == 2) {
            cmd->GetLastError()[0] = '\0';
            cmd->Dele(atoi(a[1].c_str()));
            printf("dele %s\n", cmd->GetLastError());
        } else if (a[0] == "history") {
            account.LoadHistoryFile();
            std::vector<std::string> uids;
            cmd->GetMesgList()->GetUIDList(&uids);
            account.RemoveUidList(uids);
            int added = 0;
            CPop3Mesg* list = cmd->GetMesgList();
            list->Reset();
            while (list->GetNextMesg()) {
                char* uid = list->GetMesgUID();
                if (*uid && !account.IsExistUID(uid)) {
                    account.AddHistory(uid);
                    ++added;
                }
            }
            bool saved = account.SaveHistoryFile();
            printf("history %d %d %d\n", added, account.GetHistoryCount(), saved);
        } else if (a[0] == "quit") {
            client.QuitClose();
            printf("quit\n");
        } else {
            fprintf(stderr, "unknown command %s\n", argv[i]);
            return 2;
        }
        fflush(stdout);
    }
    client.Close();
    client.Pop3UnInit();
    return 0;
}
