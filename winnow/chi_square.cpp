#include "winnow/chi_square.h"

#include <algorithm>
#include <cmath>

namespace winnow {

double ChiSquareSurvival(double x, int degrees)
{
    if (x <= 0)
        return 1.0;
    // Q(x, 2k) = e^(-m) * sum over i < k of m^i / i!, with m = x / 2.
    const double m = x / 2;
    double term = std::exp(-m);
    double sum = term;
    for (int i = 1; i < degrees / 2; ++i) {
        term *= m / i;
        sum += term;
    }
    return std::min(sum, 1.0);
}

double TokenProbability(long spam, long ham, long nspam, long nham, const ScoreParameters& p)
{
    const double b = nspam > 0 ? static_cast<double>(spam) / static_cast<double>(nspam) : 0.0;
    const double g = nham > 0 ? static_cast<double>(ham) / static_cast<double>(nham) : 0.0;
    const double n = static_cast<double>(spam + ham);
    if (b + g <= 0)
        return p.prior;
    const double ratio = b / (b + g);
    return (p.strength * p.prior + n * ratio) / (p.strength + n);
}

double CombineChiSquare(const std::vector<double>& probabilities)
{
    if (probabilities.empty())
        return 0.5;
    double hamLog = 0;
    double spamLog = 0;
    for (double f : probabilities) {
        // A probability of exactly 0 or 1 would end the sum at infinity: no token is that sure.
        f = std::clamp(f, 1e-12, 1 - 1e-12);
        hamLog += std::log(f);
        spamLog += std::log(1 - f);
    }
    const int degrees = 2 * static_cast<int>(probabilities.size());
    const double h = 1 - ChiSquareSurvival(-2 * hamLog, degrees);
    const double s = 1 - ChiSquareSurvival(-2 * spamLog, degrees);
    return (1 + s - h) / 2;
}

}  // namespace winnow
