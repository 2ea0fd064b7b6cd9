#include "platform/Files.h"

// What every system does the same way, on top of its own calls.

namespace quillora::platform {

bool sameFile(const std::string& a, const std::string& b)
{
    const auto first = statusOf(a);
    const auto second = statusOf(b);
    return first && second && first->identity == second->identity;
}

} // namespace quillora::platform
