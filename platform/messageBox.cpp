#include "platform/messageBox.h"

#include <cstdio>
#include <mutex>

namespace platform {

namespace {
std::mutex gHandlerMutex;
TMessageBoxHandler gHandler;
} // namespace

int MessageBox(const std::string& text, const std::string& caption, uint32_t flags) {
    TMessageBoxHandler handler;
    {
        std::lock_guard lock(gHandlerMutex);
        handler = gHandler;
    }
    if (handler)
        return handler(text, caption, flags);
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    return (flags & 0xF) == MB_YESNO ? IDNO : IDOK;
}

TMessageBoxHandler SetMessageBoxHandler(TMessageBoxHandler handler) {
    std::lock_guard lock(gHandlerMutex);
    std::swap(gHandler, handler);
    return handler;
}

} // namespace platform
