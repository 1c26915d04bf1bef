#include "platform/messageBox.h"

#include <condition_variable>
#include <deque>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using namespace platform;

namespace {

// The GUI thread of a windowed program in miniature: a queue of calls that one thread serves.
class TCallQueue {
public:
    int RunThere(const std::function<int()>& call) {
        std::unique_lock lock(FMutex);
        bool done = false;
        int answer = 0;
        FCalls.push_back([&] {
            answer = call();
            done = true;
        });
        FChanged.notify_all();
        FChanged.wait(lock, [&] { return done; });
        return answer;
    }
    // Serves calls until one has run.
    void ServeOne() {
        std::unique_lock lock(FMutex);
        FChanged.wait(lock, [&] { return !FCalls.empty(); });
        auto call = std::move(FCalls.front());
        FCalls.pop_front();
        call();
        FChanged.notify_all();
    }

private:
    std::mutex FMutex;
    std::condition_variable FChanged;
    std::deque<std::function<void()>> FCalls;
};

TEST(MessageBox, ABoxAskedOnAnotherThreadIsShownOnTheHandlersThread) {
    std::thread::id shownOn;
    TMessageBoxHandler previous =
        SetMessageBoxHandler([&](const std::string& text, const std::string&, uint32_t) {
            shownOn = std::this_thread::get_id();
            return text == "Can not open file!" ? IDOK : IDCANCEL;
        });
    TCallQueue guiThread;
    SetMessageBoxDispatcher([&](const std::function<int()>& call) { return guiThread.RunThere(call); });

    int answer = 0;
    std::thread worker([&] { answer = MessageBox("Can not open file!", "Error", MB_OK); });
    guiThread.ServeOne();
    worker.join();
    EXPECT_EQ(answer, IDOK);
    EXPECT_EQ(shownOn, std::this_thread::get_id());

    // On the handler's own thread the box is shown directly, without a round through the dispatcher.
    shownOn = {};
    EXPECT_EQ(MessageBox("other", "Error", MB_OK), IDCANCEL);
    EXPECT_EQ(shownOn, std::this_thread::get_id());

    SetMessageBoxDispatcher({});
    SetMessageBoxHandler(previous);
}

} // namespace
