#pragma once

#include <string>
#include <vector>

#include "fetchling/pop3_mesg.h"

class CPop3Client;

// The commands of the POP3 transaction state over a CPop3Client's connection. Commands that
// read a reply treat a failed read like a negative one; STAT, LIST n and UIDL n only send and
// leave the reply for the caller.
class CPop3TranCommand {
public:
    explicit CPop3TranCommand(CPop3Client* client);

    // Greeting, USER, PASS: 1 logged in; 0 the greeting was not "+OK"; -20 USER refused;
    // -30 PASS refused.
    int Login();

    bool Stat(int& count, long& octets);
    // LIST: rebuilds the message list from the listing; false when the reply is not "+OK".
    bool List();
    bool List(int number, int& id, long& octets);
    // UIDL: sets the UIDs of the listed messages; false when the reply is not "+OK".
    bool Uidl();
    bool Uidl(int number);
    // RETR n and its status line; the caller reads the message up to the line ".".
    bool Retr(int number);
    bool Top(int number, int lines);
    bool Dele(int number);
    bool Noop();
    bool Rset();
    bool Quit();

    // Reads one status line: true for "+OK"; for "-ERR" the text after those four bytes
    // becomes the last error.
    bool CheckOKReply();
    char* GetLastError() { return m_szLastError; }
    CPop3Mesg* GetMesgList() { return &m_MesgList; }
    // The connection ended inside the last LIST or UIDL listing: what it gave is partial.
    bool ListingCut() const { return m_bListingCut; }

    // Splits a line into words: spaces separate, a double-quoted word and a parenthesised
    // group (nested, spaces and quotes inside) stay one word with their delimiters. False
    // and no words for a line longer than 497 bytes.
    static bool ParsingLine(const char* line, std::vector<std::string>& words);
    // Copies source[start, end) into dest and terminates it; empty when end <= start.
    static void Extract(const char* source, char* dest, long start, long end);

private:
    void Send(const char* format, int a = 0, int b = 0);
    // Reads one line; a line longer than the buffer is read to its end and only its first
    // part kept, so its rest is never taken for the next line. -1 when the read failed.
    int ReadWholeLine(char* dest, int size);
    // After a listing line the listing is not read past: reads the rest up to its "."
    // so the next reply is not taken from it. False when the connection ended first.
    bool SkipRestOfListing();

    CPop3Client* m_pClient;
    CPop3Mesg m_MesgList;
    char m_szLastError[100] = {};
    bool m_bListingCut = false;
};
