#include <gtest/gtest.h>

#include <cmath>

#include "winnow/winnow.h"

namespace {

using namespace winnow;

TEST(ChiSquare, SurvivalMatchesItsClosedForm)
{
    EXPECT_DOUBLE_EQ(ChiSquareSurvival(0, 10), 1.0);
    EXPECT_NEAR(ChiSquareSurvival(2, 2), std::exp(-1.0), 1e-12);
    EXPECT_NEAR(ChiSquareSurvival(4, 4), 3 * std::exp(-2.0), 1e-12);
    // Tabled value: the 5 % point of chi-square with 10 degrees of freedom is 18.307.
    EXPECT_NEAR(ChiSquareSurvival(18.307, 10), 0.05, 1e-4);
}

TEST(ChiSquare, CombiningKnownValues)
{
    EXPECT_DOUBLE_EQ(CombineChiSquare({}), 0.5);
    // With one token the indicator is its probability.
    EXPECT_NEAR(CombineChiSquare({0.9}), 0.9, 1e-12);
    EXPECT_NEAR(CombineChiSquare({0.2}), 0.2, 1e-12);
    // Symmetric evidence cancels; mirrored evidence mirrors the indicator.
    EXPECT_NEAR(CombineChiSquare({0.99, 0.01}), 0.5, 1e-12);
    const double spammy = CombineChiSquare({0.99, 0.95, 0.9, 0.8});
    EXPECT_GT(spammy, 0.99);
    EXPECT_NEAR(CombineChiSquare({0.01, 0.05, 0.1, 0.2}), 1 - spammy, 1e-12);
    // Certainty is clamped, not infinite.
    EXPECT_LE(CombineChiSquare({1.0, 1.0}), 1.0);
    EXPECT_FALSE(std::isnan(CombineChiSquare({0.0, 1.0})));
}

TEST(ChiSquare, TokenProbabilityLeansOnThePriorWhenRare)
{
    ScoreParameters p;
    EXPECT_DOUBLE_EQ(TokenProbability(0, 0, 10, 10, p), 0.5);
    EXPECT_NEAR(TokenProbability(1, 0, 1, 1, p), (0.45 * 0.5 + 1) / 1.45, 1e-12);
    EXPECT_NEAR(TokenProbability(100, 0, 100, 100, p), (0.45 * 0.5 + 100) / 100.45, 1e-12);
    // Frequencies, not counts: 10 of 100 spam against 10 of 1000 ham leans spam.
    EXPECT_GT(TokenProbability(10, 10, 100, 1000, p), 0.85);
}

}  // namespace
