#include "platform/messageBox.h"

#include <cstdio>
#include <mutex>
#include <thread>

namespace platform {

namespace {
std::mutex gHandlerMutex;
TMessageBoxHandler gHandler;
std::thread::id gHandlerThread;
TMessageBoxDispatcher gDispatcher;
} // namespace

int MessageBox(const std::string& text, const std::string& caption, uint32_t flags) {
    TMessageBoxHandler handler;
    TMessageBoxDispatcher dispatcher;
    std::thread::id handlerThread;
    {
        std::lock_guard lock(gHandlerMutex);
        handler = gHandler;
        dispatcher = gDispatcher;
        handlerThread = gHandlerThread;
    }
    if (handler) {
        if (dispatcher && std::this_thread::get_id() != handlerThread)
            return dispatcher([&] { return handler(text, caption, flags); });
        return handler(text, caption, flags);
    }
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    return (flags & 0xF) == MB_YESNO ? IDNO : IDOK;
}

TMessageBoxHandler SetMessageBoxHandler(TMessageBoxHandler handler) {
    std::lock_guard lock(gHandlerMutex);
    std::swap(gHandler, handler);
    gHandlerThread = std::this_thread::get_id();
    return handler;
}

void SetMessageBoxDispatcher(TMessageBoxDispatcher dispatcher) {
    std::lock_guard lock(gHandlerMutex);
    gDispatcher = std::move(dispatcher);
}

} // namespace platform
