#pragma once

#include <cstring>
#include <string>

#include "sievelet/spam_filter_record.h"

namespace orvanta::pipeline {

// What the filters said about one message.
struct Verdict {
    bool decided = false;  // a filter has spoken (pass hit or spam hit); later checks skip
    bool spam = false;
    int action = 0;                           // the matching rule's action; 1 = delete at once
    char folder[SPAM_FOLDER_SIZE] = "INBOX";  // target folder in the local store
    SPAM_FILTER rule{};                       // copy of the matching rule (the deletion notice names it)
    std::string from;                         // top-level sender address, at most 99 bytes
    std::string to;                           // top-level recipient address, at most 99 bytes
    std::string subject;                      // top-level subject, at most 200 bytes

    void Reset() { *this = Verdict(); }
    void SetFolder(const char* name)
    {
        std::strncpy(folder, name ? name : "", sizeof folder - 1);
        folder[sizeof folder - 1] = '\0';
    }
};

}  // namespace orvanta::pipeline
