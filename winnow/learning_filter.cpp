#include "winnow/learning_filter.h"

#include <algorithm>
#include <cmath>

#include "parsewick/mail_parser.h"
#include "winnow/tokenizer.h"

namespace winnow {
namespace {

std::string Trimmed(const char* text)
{
    std::string value = text ? text : "";
    const size_t first = value.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return "";
    return value.substr(first, value.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

bool CLearningFilter::Open(const std::string& path)
{
    std::lock_guard guard(lock_);
    return store_.Open(path);
}

bool CLearningFilter::IsOpen()
{
    std::lock_guard guard(lock_);
    return store_.IsOpen();
}

std::string CLearningFilter::Error()
{
    std::lock_guard guard(lock_);
    return store_.Error();
}

std::vector<uint64_t> CLearningFilter::Hashes(const std::vector<std::string>& tokens)
{
    std::vector<uint64_t> hashes;
    hashes.reserve(tokens.size());
    for (const std::string& t : tokens)
        hashes.push_back(TokenHash(t));
    std::sort(hashes.begin(), hashes.end());
    hashes.erase(std::unique(hashes.begin(), hashes.end()), hashes.end());
    return hashes;
}

uint64_t CLearningFilter::Digest(std::string_view message)
{
    size_t end = message.find("\r\n\r\n");
    end = end == std::string_view::npos ? message.find("\n\n") : end + 4;
    std::string header(message.substr(
        0, std::min<size_t>(end == std::string_view::npos ? message.size() : end, CTokenizer::kMaxMessageBytes)));
    CMailHeader fields;
    if (!header.empty())
        CMailParser::CheckHeader(nullptr, header.c_str(), 0, static_cast<int>(header.size()), fields);
    std::string id = Trimmed(fields.GetMessageID());
    if (!id.empty())
        return TokenHash("message-id\n" + id);
    std::string key;
    for (const char* name : {"from", "to", "date", "subject"})
        key += Trimmed(fields.GetHeader(name)) + "\n";
    if (key.size() > 4)
        return TokenHash("fields\n" + key);
    return TokenHash("text\n" + std::string(message.substr(0, 65536)));
}

Classification CLearningFilter::Score(const std::vector<std::string>& tokens)
{
    std::vector<uint64_t> hashes;
    hashes.reserve(tokens.size());
    for (const std::string& t : tokens)
        hashes.push_back(TokenHash(t));
    std::vector<TokenCounts> counts;
    Classification result;
    long nspam = 0;
    long nham = 0;
    {
        std::lock_guard guard(lock_);
        store_.Lookup(hashes, &counts);
        nspam = store_.SpamMessages();
        nham = store_.HamMessages();
    }
    result.trained = nspam >= kMinimumTraining && nham >= kMinimumTraining;

    std::vector<TokenWeight> weights;
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (counts[i].spam == 0 && counts[i].ham == 0)
            continue;
        double f = TokenProbability(counts[i].spam, counts[i].ham, nspam, nham, parameters_);
        if (std::fabs(f - 0.5) < parameters_.minDeviation)
            continue;
        weights.push_back({tokens[i], f, counts[i].spam, counts[i].ham});
    }
    // Strongest first; equal ones in token order, so a score does not depend on the sort.
    std::sort(weights.begin(), weights.end(), [](const TokenWeight& a, const TokenWeight& b) {
        const double da = std::fabs(a.probability - 0.5), db = std::fabs(b.probability - 0.5);
        return da != db ? da > db : a.token < b.token;
    });
    if (weights.size() > parameters_.maxTokens)
        weights.resize(parameters_.maxTokens);
    std::vector<double> probabilities;
    probabilities.reserve(weights.size());
    for (const TokenWeight& w : weights)
        probabilities.push_back(w.probability);
    result.indicator = CombineChiSquare(probabilities);
    if (result.indicator >= parameters_.spamCutoff)
        result.judgement = result.trained ? Judgement::Spam : Judgement::Unsure;
    else if (result.indicator <= parameters_.hamCutoff)
        result.judgement = Judgement::Ham;
    else
        result.judgement = Judgement::Unsure;
    result.strongest = std::move(weights);
    return result;
}

Classification CLearningFilter::Classify(std::string_view message) { return Score(CTokenizer::Tokenize(message)); }

Classification CLearningFilter::ClassifyTokens(const std::vector<std::string>& tokens) { return Score(tokens); }

TrainOutcome CLearningFilter::TrainTokens(uint64_t digest, const std::vector<std::string>& tokens, Label label)
{
    std::vector<uint64_t> hashes = Hashes(tokens);
    std::lock_guard guard(lock_);
    return store_.Learn(digest, hashes, label);
}

TrainOutcome CLearningFilter::Train(std::string_view message, Label label)
{
    return TrainTokens(Digest(message), CTokenizer::Tokenize(message), label);
}

bool CLearningFilter::Untrain(std::string_view message)
{
    const uint64_t digest = Digest(message);
    std::vector<uint64_t> hashes = Hashes(CTokenizer::Tokenize(message));
    std::lock_guard guard(lock_);
    return store_.Unlearn(digest, hashes);
}

std::optional<Label> CLearningFilter::TrainedAs(std::string_view message)
{
    const uint64_t digest = Digest(message);
    std::lock_guard guard(lock_);
    return store_.TrainedAs(digest);
}

bool CLearningFilter::RememberPassed(std::string_view message)
{
    return RememberTokens(Digest(message), CTokenizer::Tokenize(message));
}

bool CLearningFilter::RememberTokens(uint64_t digest, const std::vector<std::string>& tokens)
{
    std::vector<uint64_t> hashes = Hashes(tokens);
    std::lock_guard guard(lock_);
    if (store_.TrainedAs(digest))
        return false;
    return store_.Remember(digest, hashes);
}

int CLearningFilter::TrainMatured()
{
    std::lock_guard guard(lock_);
    int trained = store_.Mature(store_.Today() - kHamDelayDays + 1);
    store_.Prune();
    return trained;
}

bool CLearningFilter::Ready()
{
    std::lock_guard guard(lock_);
    return store_.SpamMessages() >= kMinimumTraining && store_.HamMessages() >= kMinimumTraining;
}

StoreFigures CLearningFilter::Figures()
{
    std::lock_guard guard(lock_);
    return store_.Figures();
}

bool CLearningFilter::Consistent()
{
    std::lock_guard guard(lock_);
    return store_.Consistent();
}

bool CLearningFilter::BeginBatch()
{
    std::lock_guard guard(lock_);
    return store_.BeginBatch();
}

bool CLearningFilter::EndBatch()
{
    std::lock_guard guard(lock_);
    return store_.EndBatch();
}

void CLearningFilter::SetToday(long day)
{
    std::lock_guard guard(lock_);
    store_.SetToday(day);
}

}  // namespace winnow
