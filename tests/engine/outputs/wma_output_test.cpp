#include "engine/outputs/wma_output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <tuple>

#include "platform/wma/wma_file_writer.h"

namespace tralux {
namespace {

using Key = std::tuple<int, std::uint32_t, int>;
Key KeyOf(const WmaCombination& c) { return {c.kbps, c.rate, c.channels}; }

// Tries every listed combination on the real encoder: the accepted table must be exactly what
// it opens for, so the settings dialog never offers a combination that fails at the job.
TEST(WmaCombinations, AcceptedTableMatchesTheEncoder) {
    const auto listed = WmaListedCombinations();
    ASSERT_EQ(listed.size(), 32u);
    std::set<Key> opened, refused;
    for (const WmaCombination& c : listed) {
        std::string why;
        if (platform::WmaEncoderAccepts(c.kbps * 1000, c.rate, c.channels, &why)) {
            opened.insert(KeyOf(c));
        } else {
            refused.insert(KeyOf(c));
            EXPECT_FALSE(why.empty()) << c.kbps << " " << c.rate << " " << c.channels;
        }
    }
    std::set<Key> table;
    for (const WmaCombination& c : WmaAcceptedCombinations()) table.insert(KeyOf(c));
    EXPECT_EQ(table, opened);
    EXPECT_EQ(opened.size(), 15u);
    EXPECT_EQ(refused.size(), 17u);
    for (const Key& k : refused) EXPECT_LT(std::get<0>(k), 24);
    for (const Key& k : opened) EXPECT_GE(std::get<0>(k), 32);
}

TEST(WmaCombinations, NothingLeftAtTheLowRates) {
    for (const WmaCombination& c : WmaAcceptedCombinations()) {
        EXPECT_GE(c.rate, 22050u);
        EXPECT_TRUE(IsWmaCombinationAccepted(c.kbps, c.rate, c.channels));
        EXPECT_EQ(WmaCombinationProblem(c.kbps, c.rate, c.channels), "");
    }
    EXPECT_TRUE(IsWmaCombinationAccepted(64, 44100, 2));
    EXPECT_FALSE(IsWmaCombinationAccepted(64, 44100, 1));  // the encoder would take it; never offered
    EXPECT_FALSE(IsWmaCombinationAccepted(16, 22050, 1));
}

TEST(WmaCombinations, RefusalSaysWhy) {
    const std::string low = WmaCombinationProblem(16, 22050, 1);
    EXPECT_NE(low.find("16 kBps"), std::string::npos);
    EXPECT_NE(low.find("24 kBps"), std::string::npos);
    const std::string unlisted = WmaCombinationProblem(160, 32000, 1);
    EXPECT_NE(unlisted.find("160 kBps at 32000 Hz mono"), std::string::npos);
}

}  // namespace
}  // namespace tralux
