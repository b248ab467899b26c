#pragma once

#include <string>
#include <vector>

// One message on the server, as LIST and UIDL describe it.
struct Pop3Mail {
    int number = 0;      // the server's message number
    long size = 0;       // size in octets from LIST
    char uid[100] = {};  // from UIDL, at most 99 characters; empty until set
};

// The server's message list in the order it was listed, with a cursor for walking it.
class CPop3Mesg {
public:
    void AddMesgToList(int number, long size);
    // The first record with that number gets the UID (cut to 99 characters); unknown numbers
    // are ignored.
    void SetMesgUID(int number, const char* uid);
    // Removes the first record only when it has the given number.
    void RemoveMesgToList(int number);
    bool IsExist(int number) const;
    int Size() const { return static_cast<int>(m_List.size()); }
    void Clear();

    // Walking: Reset(), then GetNextMesg() while it returns true; the getters give the record
    // at the cursor (0 / an empty text when the cursor points at none).
    void Reset() { m_nCursor = -1; }
    bool GetNextMesg();
    int GetMesgID() const;
    long GetMesgOctet() const;
    char* GetMesgUID();

    // Appends every record's UID in list order.
    void GetUIDList(std::vector<std::string>* uids) const;

private:
    const Pop3Mail* Current() const;

    std::vector<Pop3Mail> m_List;
    int m_nCursor = -1;
};
