#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "winnow/chi_square.h"
#include "winnow/token_store.h"

namespace winnow {

enum class Judgement { Ham, Unsure, Spam };

// One token's part in a score.
struct TokenWeight {
    std::string token;
    double probability = 0.5;  // f(w)
    long spam = 0;
    long ham = 0;
};

struct Classification {
    Judgement judgement = Judgement::Unsure;
    double indicator = 0.5;  // 0 ham .. 1 spam
    // The store holds at least kMinimumTraining messages of each kind. Until then nothing is
    // judged spam.
    bool trained = false;
    std::vector<TokenWeight> strongest;  // the tokens that took part, strongest first
};

// The learning filter: the tokenizer, the token store and the chi-square score behind one
// lock, so the examination and the spam-box feedback (on other threads) can share it.
class CLearningFilter {
public:
    static constexpr long kMinimumTraining = 50;
    // A passed message that stays out of the spam box this long is trained as ham.
    static constexpr long kHamDelayDays = 3;

    explicit CLearningFilter(ScoreParameters parameters = ScoreParameters()) : parameters_(parameters) {}

    bool Open(const std::string& path);
    bool IsOpen();
    std::string Error();
    const ScoreParameters& Parameters() const { return parameters_; }

    Classification Classify(std::string_view message);
    Classification ClassifyTokens(const std::vector<std::string>& tokens);

    // Trains a message (its digest makes a second training with the same label a no-op).
    TrainOutcome Train(std::string_view message, Label label);
    TrainOutcome TrainTokens(uint64_t digest, const std::vector<std::string>& tokens, Label label);
    // Takes a message's training out; false when it was not trained.
    bool Untrain(std::string_view message);
    // The label a message was trained with, if any.
    std::optional<Label> TrainedAs(std::string_view message);

    // A message that passed: trained as ham by TrainMatured unless trained otherwise first.
    bool RememberPassed(std::string_view message);
    bool RememberTokens(uint64_t digest, const std::vector<std::string>& tokens);
    // Trains the passed messages kept for kHamDelayDays, then prunes the store; the number
    // trained.
    int TrainMatured();

    bool Ready();
    StoreFigures Figures();
    bool Consistent();
    bool BeginBatch();
    bool EndBatch();
    void SetToday(long day);

    // What identifies a message across its copies (the one fetched, the one the spam box
    // keeps with a footer added, the one a mail client files back): its Message-ID, or else
    // its From, To, Date and Subject fields; a message with none of them, its first 64 KB.
    static uint64_t Digest(std::string_view message);

private:
    Classification Score(const std::vector<std::string>& tokens);
    static std::vector<uint64_t> Hashes(const std::vector<std::string>& tokens);

    ScoreParameters parameters_;
    std::mutex lock_;
    CTokenStore store_;
};

}  // namespace winnow
