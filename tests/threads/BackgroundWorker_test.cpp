// TBackgroundWorker on real threads, its answers through a real Qt event loop: jobs run in their
// order off the owner's thread and answer on it; Finish ends a job that waits in the platform
// layer at once, drops what had not started, and lets no answer through afterwards.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/ThreadStop.h"
#include "threads/qt/BackgroundWorker.h"

namespace {

using namespace std::chrono_literals;

constexpr int kBoundMs = 60000;  // generous: only a hang reaches it

// Runs the event loop until `worker` is idle; false when the bound came first.
bool WaitForIdle(TBackgroundWorker& worker) {
    if (worker.Pending() == 0) return true;
    QEventLoop loop;
    QObject::connect(&worker, &TBackgroundWorker::Idle, &loop, &QEventLoop::quit);
    QTimer::singleShot(kBoundMs, &loop, &QEventLoop::quit);
    loop.exec();
    return worker.Pending() == 0;
}

TEST(BackgroundWorker, JobsRunInOrderOffTheOwnersThreadAndAnswerOnIt) {
    TBackgroundWorker worker;
    const std::thread::id owner = std::this_thread::get_id();
    std::vector<int> answered;
    bool everyJobOffTheOwner = true, everyAnswerOnIt = true;
    int idles = 0;
    QObject::connect(&worker, &TBackgroundWorker::Idle, [&] { ++idles; });
    for (int n = 0; n < 200; ++n) {
        worker.Post([n, owner] { return std::pair(n, std::this_thread::get_id() != owner); },
                    [&](std::pair<int, bool> result) {
                        answered.push_back(result.first);
                        everyJobOffTheOwner = everyJobOffTheOwner && result.second;
                        everyAnswerOnIt = everyAnswerOnIt && std::this_thread::get_id() == owner;
                    });
    }
    EXPECT_EQ(worker.Pending(), 200);
    ASSERT_TRUE(WaitForIdle(worker));
    ASSERT_EQ(answered.size(), 200u);
    for (int n = 0; n < 200; ++n) EXPECT_EQ(answered[n], n);
    EXPECT_TRUE(everyJobOffTheOwner);
    EXPECT_TRUE(everyAnswerOnIt);
    EXPECT_GE(idles, 1);
}

// A job that throws is said on the debug output and gets no answer; the jobs after it run.
TEST(BackgroundWorker, AJobThatThrowsGetsNoAnswerAndHoldsBackNoOther) {
    TBackgroundWorker worker;
    int answers = 0;
    worker.Post([]() -> int { throw std::runtime_error("disk gone"); }, [&](int) { ++answers; });
    worker.Post([] {}, [&] { ++answers; });
    ASSERT_TRUE(WaitForIdle(worker));
    EXPECT_EQ(answers, 1);
}

// As at the program's end: a job waiting on a server that never answers (here a wait of the
// platform layer of an hour) ends at once, the job behind it never starts, and an answer that
// was on its way is not delivered once Finish began.
TEST(BackgroundWorker, FinishEndsAWaitingJobDropsTheRestAndDeliversNothingMore) {
    TBackgroundWorker worker;
    std::atomic<bool> waiting{false}, unwound{false}, laterRan{false};
    int answers = 0;
    worker.Post([] { return 1; }, [&](int) { ++answers; });
    worker.Post(
        [&] {
            struct TUnwound {
                std::atomic<bool>& Flag;
                ~TUnwound() { Flag = true; }
            } unwinding{unwound};
            waiting = true;
            platform::Sleep(3'600'000);
        },
        [&] { ++answers; });
    worker.Post([&] { laterRan = true; });
    for (int ms = 0; ms < kBoundMs && !waiting; ++ms) std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(waiting);
    EXPECT_FALSE(worker.Wait(0ms));  // the sleeper runs
    EXPECT_FALSE(worker.Finish(0ms));
    EXPECT_TRUE(unwound);
    EXPECT_FALSE(laterRan);
    QCoreApplication::processEvents();  // the first job's answer was posted before the end
    EXPECT_EQ(answers, 0);
    worker.Post([&] { laterRan = true; });  // refused once finished
    EXPECT_EQ(worker.Pending(), 3);
    EXPECT_TRUE(worker.Finish(0ms));
}

}  // namespace
