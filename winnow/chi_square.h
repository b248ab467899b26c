#pragma once

#include <cstddef>
#include <vector>

namespace winnow {

// The probability that a chi-square variable with `degrees` degrees of freedom (even, at
// least 2) is at least `x`: the survival function, in closed form for even degrees.
double ChiSquareSurvival(double x, int degrees);

// The weights of a token's counts and the cut-offs of the combined indicator.
struct ScoreParameters {
    double strength = 0.45;       // s: how many messages' worth the prior counts for
    double prior = 0.5;           // x: the probability assumed for a token never seen
    double minDeviation = 0.1;    // tokens closer than this to 0.5 are left out
    std::size_t maxTokens = 300;  // the strongest this many take part
    double hamCutoff = 0.2;       // an indicator at or below this is ham
    double spamCutoff = 0.99;     // at or above this is spam; in between unsure
};

// Robinson's estimate f(w) for a token seen in `spam` of `nspam` spam and `ham` of `nham`
// ham messages: the ratio of its two frequencies pulled towards the prior by the strength,
// the fewer messages it was seen in the stronger.
double TokenProbability(long spam, long ham, long nspam, long nham, const ScoreParameters& p);

// Fisher's combining of the token probabilities: the spam evidence S and the ham evidence
// H, each one minus the chi-square survival of -2 sum ln of the probabilities (for S of their
// complements) with 2n degrees of freedom, give the indicator (1 + S - H) / 2, from 0 (ham) to
// 1 (spam). No probabilities give 0.5.
double CombineChiSquare(const std::vector<double>& probabilities);

}  // namespace winnow
