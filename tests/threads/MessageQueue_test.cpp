// The queue of a receiver without an event loop (kelvo-run): messages posted from several threads
// at once each arrive exactly once, in the order each thread posted them, blocks whole; a wait
// with nothing posted ends at its deadline.
#include "threads/MessageQueue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

namespace {

TEST(MessageQueue, PostsFromManyThreadsArriveOnceAndInTheirOrder) {
    constexpr int kThreads = 4;
    constexpr int kEach = 5000;
    TMessageQueue queue;
    SetMessageSink(&queue);
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([t] {
            for (int i = 0; i < kEach; ++i) {
                if (i % 2 == 0) {
                    PostToMainThread(UM_PORT_OPENED, static_cast<std::uintptr_t>(t), i);
                } else {
                    const int block[2] = {t, i};
                    PostBlockToMainThread(block, sizeof block);
                }
            }
        });
    }
    std::vector<int> next(kThreads, 0);
    int taken = 0;
    const auto deadline = TMessageQueue::TClock::now() + std::chrono::seconds(60);
    while (taken < kThreads * kEach) {
        const std::optional<TThreadMessage> message = queue.WaitUntil(deadline);
        ASSERT_TRUE(message) << "only " << taken << " arrived";
        int t = 0, i = 0;
        if (message->Msg() == UM_PORT_OPENED) {
            t = static_cast<int>(message->WParam());
            i = static_cast<int>(message->LParam());
        } else {
            ASSERT_EQ(message->Msg(), SendStringToMainFormMsg);
            ASSERT_EQ(message->LParam(), static_cast<std::intptr_t>(2 * sizeof(int)));
            int block[2];
            std::memcpy(block, message->Block(), sizeof block);
            t = block[0];
            i = block[1];
        }
        ASSERT_EQ(i, next[t]) << "thread " << t;
        ++next[t];
        ++taken;
    }
    for (std::thread& poster : posters) poster.join();
    SetMessageSink(nullptr);
    EXPECT_FALSE(PostToMainThread(UM_PORT_CLOSED, 0, 0));  // nobody takes it
    EXPECT_FALSE(queue.WaitUntil(TMessageQueue::TClock::now() + std::chrono::milliseconds(20)));
}

}  // namespace
