// TEventedThread on real threads: how it starts, finishes, is stopped from a blocking wait, and
// frees itself.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/DebugOutput.h"
#include "platform/ThreadStop.h"
#include "threads/ThreadClasses.h"

namespace {

constexpr auto kBound = std::chrono::seconds(60);  // generous: only a hang reaches it
constexpr uint32_t kHourMs = 3'600'000;

// Runs `action` on a helper thread and waits for it up to kBound. A hang ends the test program
// at once with a message instead of leaving it to the runner's time-out.
void RunBounded(std::function<void()> action, const char* what) {
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    std::thread([action = std::move(action), done] {
        action();
        done->set_value();
    }).detach();
    if (finished.wait_for(kBound) != std::future_status::ready) {
        ADD_FAILURE() << what << " did not return";
        std::abort();
    }
}

void Await(std::future<void>& event, const char* what) {
    ASSERT_EQ(event.wait_for(kBound), std::future_status::ready) << what;
}

// Fulfils a promise when it is destroyed: tells when a body's captures (the thread object) go.
struct Sentinel {
    std::promise<void> gone;
    ~Sentinel() { gone.set_value(); }
};

TEST(EventedThread, EmptyOnExecuteFinishesAtOnce) {
    TEventedThread thread("empty", false, nullptr, nullptr);
    EXPECT_EQ(thread.WaitFor(), 0u);
    EXPECT_TRUE(thread.Finished());
    EXPECT_FALSE(thread.Terminated());
}

TEST(EventedThread, BodyFindsMembersFilledInAndReturnValueIsExitCode) {
    int data = 0;
    TEventedThread* seenThread = nullptr;
    void* seenData = nullptr;
    std::string seenName;
    TEventedThread thread(
        "KelvoReaderWorkingThread", false,
        [&](TEventedThread& self, void* d) {
            seenThread = &self;
            seenData = d;
            seenName = self.ThreadName;
            self.ReturnValue = 42;
        },
        &data);
    EXPECT_EQ(thread.WaitFor(), 42u);
    EXPECT_EQ(seenThread, &thread);
    EXPECT_EQ(seenData, &data);
    EXPECT_EQ(seenName, "KelvoReaderWorkingThread");
}

TEST(EventedThread, SuspendedThreadRunsOnlyAfterResume) {
    std::atomic<int> runs{0};
    TEventedThread thread(
        "suspended", true, [&](TEventedThread&, void*) { ++runs; }, nullptr);
    EXPECT_TRUE(thread.Suspended());
    thread.Resume();
    EXPECT_FALSE(thread.Suspended());
    thread.Resume();  // already running: no effect
    EXPECT_EQ(thread.WaitFor(), 0u);
    EXPECT_EQ(runs.load(), 1);
}

TEST(EventedThread, SuspendedThreadDestroyedUnresumedNeverRunsBodyNorHangs) {
    std::atomic<bool> ran{false};
    RunBounded(
        [&] {
            TEventedThread thread(
                "never", true, [&](TEventedThread&, void*) { ran = true; }, nullptr);
        },
        "destroying a suspended thread");
    EXPECT_FALSE(ran.load());
}

TEST(EventedThread, StopThreadOnSuspendedThreadEndsItWithoutBody) {
    std::atomic<bool> ran{false};
    TEventedThread thread(
        "suspended", true, [&](TEventedThread&, void*) { ran = true; }, nullptr);
    RunBounded([&] { StopThread(&thread); }, "StopThread");
    EXPECT_EQ(thread.WaitFor(), 0xFFFFFFFFu);
    EXPECT_FALSE(ran.load());
    EXPECT_FALSE(thread.Finished());
    EXPECT_FALSE(thread.Terminated());
}

// The body is stopped inside a wait of an hour while it holds a lock: it must be unwound (the
// lock released, its locals destroyed) without reaching the code after the wait.
TEST(EventedThread, StopThreadUnwindsBodyBlockedInSleep) {
    std::mutex held;
    std::promise<void> entered;
    auto enteredEvent = entered.get_future();
    std::atomic<bool> unwound{false};
    std::atomic<bool> wokeUp{false};
    struct OnUnwind {
        std::atomic<bool>& flag;
        ~OnUnwind() { flag = true; }
    };
    auto thread = std::make_unique<TEventedThread>(
        "sleeper", false,
        [&](TEventedThread&, void*) {
            OnUnwind onUnwind{unwound};
            std::lock_guard lock(held);
            entered.set_value();
            platform::Sleep(kHourMs);
            wokeUp = true;
        },
        nullptr);
    Await(enteredEvent, "body did not start");

    RunBounded([&] { StopThread(thread.get()); }, "StopThread");
    EXPECT_EQ(thread->WaitFor(), 0xFFFFFFFFu);
    EXPECT_FALSE(thread->Finished());
    EXPECT_FALSE(thread->Terminated());
    EXPECT_TRUE(unwound.load());
    EXPECT_FALSE(wokeUp.load());
    EXPECT_TRUE(held.try_lock()) << "the body's lock stayed held";
    held.unlock();
    RunBounded([&] { thread.reset(); }, "destroying a stopped thread");
}

// A body that never blocks sees the stop only when it tests for it; returning then still counts
// as being ended by force.
TEST(EventedThread, BusyBodyStopsWhenItTestsForStop) {
    std::promise<void> entered;
    auto enteredEvent = entered.get_future();
    TEventedThread thread(
        "busy", false,
        [&](TEventedThread& self, void*) {
            entered.set_value();
            while (!platform::StopRequested()) std::this_thread::yield();
            self.ReturnValue = 7;
        },
        nullptr);
    Await(enteredEvent, "body did not start");
    RunBounded([&] { StopThread(&thread); }, "StopThread");
    EXPECT_EQ(thread.WaitFor(), 0xFFFFFFFFu);
    EXPECT_FALSE(thread.Finished());
}

TEST(EventedThread, BodyTestingTerminatedFinishesOnDestruction) {
    std::promise<void> entered;
    auto enteredEvent = entered.get_future();
    std::atomic<bool> returned{false};
    auto thread = std::make_unique<TEventedThread>(
        "looper", false,
        [&](TEventedThread& self, void*) {
            entered.set_value();
            while (!self.Terminated()) platform::Sleep(1);
            returned = true;
        },
        nullptr);
    Await(enteredEvent, "body did not start");
    EXPECT_FALSE(thread->Terminated());
    RunBounded([&] { thread.reset(); }, "destroying a running thread");
    EXPECT_TRUE(returned.load());
}

TEST(EventedThread, FreeOnTerminateThreadDeletesItselfWhenBodyReturns) {
    auto sentinel = std::make_shared<Sentinel>();
    auto gone = sentinel->gone.get_future();
    auto* thread = new TEventedThread(
        "self-freeing", true, [sentinel](TEventedThread&, void*) {}, nullptr);
    sentinel.reset();  // the body's copy is now the only one
    thread->FreeOnTerminate = true;
    thread->Resume();
    Await(gone, "the thread object was not freed");
}

TEST(EventedThread, StopThreadFreesFreeOnTerminateThread) {
    auto sentinel = std::make_shared<Sentinel>();
    auto gone = sentinel->gone.get_future();
    auto* thread = new TEventedThread(
        "stopped and freed", true, [sentinel](TEventedThread&, void*) { platform::Sleep(kHourMs); },
        nullptr);
    sentinel.reset();
    thread->FreeOnTerminate = true;
    RunBounded([thread] { StopThread(thread); }, "StopThread");
    EXPECT_EQ(gone.wait_for(std::chrono::seconds(0)), std::future_status::ready)
        << "StopThread returned without freeing the object";
}

TEST(EventedThread, EscapingErrorEndsThreadNotProcess) {
    std::mutex linesLock;
    std::vector<std::string> lines;
    platform::SetDebugSink([&](const std::string& line) {
        std::lock_guard lock(linesLock);
        lines.push_back(line);
    });
    TEventedThread thread(
        "failing", false,
        [](TEventedThread& self, void*) {
            self.ReturnValue = 0;
            throw std::runtime_error("device gone");
        },
        nullptr);
    const uint32_t exitCode = thread.WaitFor();
    platform::SetDebugSink(nullptr);
    EXPECT_EQ(exitCode, FailedExitCode);
    EXPECT_TRUE(thread.Finished());
    std::lock_guard lock(linesLock);
    EXPECT_EQ(lines, std::vector<std::string>{"device gone"});
}

}  // namespace
