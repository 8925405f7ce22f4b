#include "supervisor/ui/CloseRequests.h"

#include <utility>

namespace tolvane {

CloseRequests::Origin CloseRequests::close(std::uint64_t tickMs) {
    const auto command = std::exchange(m_command, std::nullopt);
    return command && tickMs >= *command && tickMs - *command <= 2000 ? Origin::Operator : Origin::Outside;
}

}  // namespace tolvane
