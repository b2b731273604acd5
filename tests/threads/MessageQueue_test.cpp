// The queue of a receiver without an event loop (kelvo-run): messages posted from several threads
// at once each arrive exactly once, in the order each thread posted them, blocks whole, each
// naming where it is from; a wait with nothing posted ends at its deadline.
#include "threads/MessageQueue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

TEST(MessageQueue, PostsFromManyThreadsArriveOnceAndInTheirOrder) {
    constexpr int kThreads = 4;
    constexpr int kEach = 5000;
    TMessageQueue queue;
    const int sources[kThreads] = {};  // each poster's messages are from its own
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([&queue, &sources, t] {
            for (int i = 0; i < kEach; ++i) {
                if (i % 2 == 0) {
                    queue.Take(TThreadMessage(&sources[t], UM_PORT_OPENED,
                                              static_cast<std::uintptr_t>(t), i));
                } else {
                    auto block = std::make_unique<std::byte[]>(2 * sizeof(int));
                    const int values[2] = {t, i};
                    std::memcpy(block.get(), values, sizeof values);
                    queue.Take(TThreadMessage(&sources[t], SendStringToMainFormMsg,
                                              std::move(block), sizeof values));
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
        ASSERT_EQ(message->From(), &sources[t]);
        ++next[t];
        ++taken;
    }
    for (std::thread& poster : posters) poster.join();
    EXPECT_FALSE(queue.WaitUntil(TMessageQueue::TClock::now() + std::chrono::milliseconds(20)));
}

}  // namespace
