#include "rewrite/ascending.h"

#include <random>

#include <gtest/gtest.h>

namespace vorrel {
namespace {

std::vector<std::uint32_t> readAll(const Ascending& list) {
    std::vector<std::uint32_t> values;
    std::uint32_t value = 0;
    for (std::size_t at = 0; at < list.bytes.size();) {
        value = nextAscending(list, at, value);
        values.push_back(value);
    }
    return values;
}

TEST(AscendingTest, ReadsBackDistancesOfEveryWidthUpToTheLargestNumber) {
    // Distances at both edges of one to five bytes, from zero first up to
    // the largest number last.
    std::vector<std::uint32_t> values;
    std::uint32_t value = 0;
    for (const std::uint32_t distance : {0u, 1u, 127u, 128u, 16383u, 16384u, 2097151u, 2097152u, 268435455u, 268435456u}) {
        value += distance;
        values.push_back(value);
    }
    values.push_back(0xffffffffu);
    Ascending list;
    for (const std::uint32_t v : values) appendAscending(list, v);
    EXPECT_EQ(readAll(list), values);
    EXPECT_EQ(list.bytes.size(), 1u + 1 + 1 + 2 + 2 + 3 + 3 + 4 + 4 + 5 + 5);
}

TEST(AscendingTest, KeepsOneOfEqualNeighboursAndSmallDistancesInAByte) {
    Ascending list;
    for (const std::uint32_t v : {5u, 5u, 6u, 6u, 6u, 7u, 134u}) appendAscending(list, v);
    EXPECT_EQ(readAll(list), (std::vector<std::uint32_t>{5, 6, 7, 134}));
    EXPECT_EQ(list.bytes.size(), 4u);  // 5, 1, 1, 127

    Ascending first;
    appendAscending(first, 0);
    appendAscending(first, 0);
    EXPECT_EQ(readAll(first), (std::vector<std::uint32_t>{0}));
}

TEST(AscendingTest, RandomListsReadBackAsWritten) {
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        const unsigned spread = 1u << (random() % 31);
        std::vector<std::uint32_t> values;
        Ascending list;
        std::uint64_t value = random() % spread;
        for (int i = 0; i < 300 && value <= 0xffffffffu; ++i) {
            values.push_back(static_cast<std::uint32_t>(value));
            appendAscending(list, static_cast<std::uint32_t>(value));
            value += 1 + random() % spread;
        }
        ASSERT_EQ(readAll(list), values) << "round " << round;
    }
}

}  // namespace
}  // namespace vorrel
