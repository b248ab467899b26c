#include "orvanta/pipeline/learning_step.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "orvanta/core/log.h"
#include "orvanta/pipeline/folder_choice.h"
#include "platform/codepage.h"
#include "winnow/winnow.h"

namespace orvanta::pipeline {
namespace {

std::string Score(double indicator)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", indicator);
    return text;
}

}  // namespace

bool IsBuiltInJudgement(const Verdict& verdict)
{
    if (!verdict.spam || std::strcmp(verdict.rule.word, "-") != 0)
        return false;
    for (const char* name : {"No Sender", "No Receiver", "No Subject"})
        if (std::strcmp(verdict.rule.description, name) == 0)
            return true;
    return false;
}

std::string ReadForLearning(const std::string& path)
{
    // Sized by the file, not by the limit: this runs for every examined message.
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : 0;
    if (size <= 0)
        return {};
    std::string text(std::min(static_cast<size_t>(size), winnow::CTokenizer::kMaxMessageBytes), '\0');
    in.seekg(0);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    return text;
}

void LearningStep::Mature()
{
    if (!filter_)
        return;
    int trained = filter_->TrainMatured();
    if (trained > 0)
        LogUtf8("The learning filter trained " + std::to_string(trained) +
                " passed message(s) as ham: they stayed out of the spam box.");
}

void LearningStep::Judge(const std::string& path, Verdict& verdict)
{
    have_ = false;
    trainSpam_ = false;
    if (!filter_)
        return;
    const std::string text = ReadForLearning(path);
    if (text.empty())
        return;
    have_ = true;
    digest_ = winnow::CLearningFilter::Digest(text);
    tokens_ = winnow::CTokenizer::Tokenize(text);

    if (verdict.spam) {
        if (!IsBuiltInJudgement(verdict)) {
            trainSpam_ = true;  // a rule of the user's or of the online list said so
            return;
        }
        // A built-in judgement takes legitimate mail too (a message with only a Cc, a list's
        // mail without a subject); a trained filter knows better.
        winnow::Classification c = filter_->ClassifyTokens(tokens_);
        if (c.trained && c.judgement == winnow::Judgement::Ham) {
            LogUtf8("The built-in judgement \"" + std::string(verdict.rule.description) + "\" on the message from " +
                    verdict.from + " is overruled: the learning filter scores it ham (" + Score(c.indicator) + ").");
            verdict.spam = false;
        }
        return;
    }
    if (verdict.decided)
        return;  // the pass list let it through
    winnow::Classification c = filter_->ClassifyTokens(tokens_);
    if (c.judgement != winnow::Judgement::Spam)
        return;
    EnsureStoreFolder(storeDirectory_, LearnedSpamFolder());
    verdict.decided = true;
    verdict.spam = true;
    verdict.action = 0;
    verdict.SetFolder(LearnedSpamFolder().c_str());
    verdict.rule = SPAM_FILTER{};
    std::strcpy(verdict.rule.word, "-");
    std::strcpy(verdict.rule.description, "Learning Filter");
    std::strncpy(verdict.rule.folder, LearnedSpamFolder().c_str(), sizeof verdict.rule.folder - 1);
    verdict.rule.hit = 1;
    trainSpam_ = true;
    LogUtf8("The learning filter scores the message from " + verdict.from + " spam (" + Score(c.indicator) + ").");
}

void LearningStep::Outcome(bool takenOut)
{
    if (!filter_ || !have_)
        return;
    have_ = false;
    if (takenOut && trainSpam_)
        filter_->TrainTokens(digest_, tokens_, winnow::Label::Spam);
    else if (!takenOut)
        filter_->RememberTokens(digest_, tokens_);
}

}  // namespace orvanta::pipeline
