#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "common/MonotonicTickCount.h"

namespace tolvane {
namespace {

constexpr std::int64_t kWrap = std::int64_t{1} << 32;

TEST(TickUnwrapper, WrapAddsTwoToTheThirtyTwoAndEqualReadingsDoNot) {
    TickUnwrapper u;
    EXPECT_EQ(u.update(static_cast<std::uint32_t>(kWrap - 296)), kWrap - 296);
    EXPECT_EQ(u.update(200), kWrap + 200);
    EXPECT_EQ(u.update(200), kWrap + 200);
    EXPECT_EQ(u.update(0xFFFFFFFFu), 2 * kWrap - 1);
    EXPECT_EQ(u.update(0xFFFFFFFFu), 2 * kWrap - 1);
    EXPECT_EQ(u.update(0), 2 * kWrap);
}

TEST(TickUnwrapper, RepeatedWrapsAccumulate) {
    TickUnwrapper u;
    for (std::int64_t round = 0; round < 5; ++round) {
        EXPECT_EQ(u.update(0xFFFFFF00u), round * kWrap + 0xFFFFFF00);
        EXPECT_EQ(u.update(0x100u), (round + 1) * kWrap + 0x100);
    }
}

TEST(MonotonicTickCount, EachInstanceUnwrapsItsOwnReadings) {
    const std::vector<std::uint32_t> readings{4294967000u, 200u, 200u, 300u};
    std::size_t next = 0;
    MonotonicTickCount ticks([&] { return readings[next++]; });
    std::uint32_t raw = 0xFFFFFFF0u;
    MonotonicTickCount other([&] { return raw; });
    other();

    EXPECT_EQ(ticks(), 4294967000);
    EXPECT_EQ(ticks(), kWrap + 200);
    EXPECT_EQ(ticks(), kWrap + 200);
    EXPECT_EQ(ticks(), kWrap + 300);
    EXPECT_EQ(next, readings.size());  // one reading per call
    raw = 10;
    EXPECT_EQ(other(), kWrap + 10);
}

}  // namespace
}  // namespace tolvane
