#include "ui/Lifecycle.h"

#include <cstdio>
#include <cstdlib>

namespace quillora::ui {

namespace {
std::function<void(int)>& endHandler()
{
    static std::function<void(int)> handler;
    return handler;
}
} // namespace

void End(int exitCode)
{
    if (endHandler()) {
        endHandler()(exitCode);
        return;
    }
    std::fflush(nullptr);
    std::_Exit(exitCode);
}

void setEndHandler(std::function<void(int)> handler)
{
    endHandler() = std::move(handler);
}

} // namespace quillora::ui
