#pragma once

#include <string>

#include "orvanta/pipeline/examine_settings.h"
#include "orvanta/pipeline/verdict.h"

class CMailHeader;

namespace orvanta::pipeline {

struct FilterSets;

// The questions the message reader asks while a message streams in. Each runs only while
// the verdict is not decided (the reader checks) and may decide it.
class Judge {
public:
    virtual ~Judge() = default;
    // The message's own header: pass list, private set, online set.
    virtual void Header(CMailHeader& header, Verdict& verdict) = 0;
    // The decoded text of one text part (the judge may change it: it is a copy).
    virtual void Body(std::string& text, Verdict& verdict) = 0;
    // The file name of one attachment header.
    virtual void FileName(const char* name, Verdict& verdict) = 0;
    // All parsed header blocks, after the whole message was read.
    virtual void Program(CMailHeader* headers, int count, Verdict& verdict) = 0;
};

// The judge of the real filter sets under one settings snapshot. Each switch guards its own
// set in every check: "USE_PRIVATE" the private set (the rule's folder), "USE_ONLINE" the
// online set (always "INBOX"). Every match holds its set's lock.
class FilterChecks : public Judge {
public:
    FilterChecks(FilterSets& sets, const ExamineSettings& settings) : sets_(sets), settings_(settings) {}

    void Header(CMailHeader& header, Verdict& verdict) override;
    void Body(std::string& text, Verdict& verdict) override;
    void FileName(const char* name, Verdict& verdict) override;
    void Program(CMailHeader* headers, int count, Verdict& verdict) override;

private:
    void Spam(Verdict& verdict, const SPAM_FILTER& rule, const char* folder, int action);

    FilterSets& sets_;
    ExamineSettings settings_;
};

}  // namespace orvanta::pipeline
