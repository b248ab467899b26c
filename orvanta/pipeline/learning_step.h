#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "orvanta/pipeline/verdict.h"

namespace winnow {
class CLearningFilter;
}

namespace orvanta::pipeline {

// True when a verdict's spam hit is only one of the block list's built-in judgements ("No
// Sender", "No Receiver", "No Subject"), no rule.
bool IsBuiltInJudgement(const Verdict& verdict);

// A message file as the learning filter reads it (the first bytes the tokenizer looks at).
std::string ReadForLearning(const std::string& path);

// The learning filter's part in the examination of one message, once it was read whole:
// it scores what the rules passed (spam goes to the spam box's own folder as a rule with a
// folder would send it), lets a trained filter overrule a built-in judgement it scores ham,
// and trains on the outcome: spam taken out by a rule or by itself as spam, passed mail kept
// for ham training later. Inactive without a filter or with "USE_LEARN" off.
class LearningStep {
public:
    LearningStep(winnow::CLearningFilter* filter, bool enabled, std::string storeDirectory)
        : filter_(enabled ? filter : nullptr), storeDirectory_(std::move(storeDirectory))
    {
    }

    bool Active() const { return filter_ != nullptr; }
    // Passed mail old enough becomes ham; the store is pruned. Once per examination.
    void Mature();
    // The verdict of the other filters on the message in `path`; may change it.
    void Judge(const std::string& path, Verdict& verdict);
    // What became of the message judged last.
    void Outcome(bool takenOut);

private:
    winnow::CLearningFilter* filter_;
    std::string storeDirectory_;
    bool have_ = false;       // the last message was read for learning
    bool trainSpam_ = false;  // taken out, it is trained as spam
    uint64_t digest_ = 0;
    std::vector<std::string> tokens_;
};

}  // namespace orvanta::pipeline
