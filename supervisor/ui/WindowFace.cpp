#include "supervisor/ui/WindowFace.h"

namespace tolvane {

std::string windowFaceFamily(const std::function<FaceFacts(std::string_view family)>& facts) {
    for (const char* family : {"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "Arial"}) {
        const FaceFacts f = facts(family);
        if (f.installed && f.scalable) return family;
    }
    return {};
}

}  // namespace tolvane
