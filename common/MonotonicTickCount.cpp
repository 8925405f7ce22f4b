#include "common/MonotonicTickCount.h"

namespace tolvane {

std::int64_t TickUnwrapper::update(std::uint32_t reading) {
    const auto u = static_cast<std::int64_t>(reading);
    if (u < m_lastTick) m_tickOffset += std::int64_t{1} << 32;
    m_lastTick = u;
    return m_tickOffset + m_lastTick;
}

}  // namespace tolvane
