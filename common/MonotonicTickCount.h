#pragma once
// A millisecond tick count that does not wrap after 2^32 ms (49.7 days).
// The system's raw counter is 32 bits wide; every reading lower than the
// previous one means the counter went round once, so 2^32 is added to an
// offset kept for the life of the process. Readings must come at least once
// every 49.7 days, which every caller's timers guarantee.

#include <cstdint>
#include <functional>

namespace tolvane {

// The wrap logic alone, over readings given by the caller.
class TickUnwrapper {
public:
    // Returns the unwrapped value of this reading.
    std::int64_t update(std::uint32_t reading);

private:
    std::int64_t m_tickOffset = 0;
    std::int64_t m_lastTick = 0;
};

// The process's tick count: reads the raw source and unwraps it. Tolvane and
// Krandel each own one instance.
class MonotonicTickCount {
public:
    explicit MonotonicTickCount(std::function<std::uint32_t()> rawSource) : m_rawSource(std::move(rawSource)) {}

    std::int64_t operator()() { return m_unwrapper.update(m_rawSource()); }

private:
    std::function<std::uint32_t()> m_rawSource;
    TickUnwrapper m_unwrapper;
};

}  // namespace tolvane
