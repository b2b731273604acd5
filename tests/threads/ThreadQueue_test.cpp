// TThreadQueue against real threads: order, duplicate modes, empty pops, the event, and that an
// error never leaves the lock taken.

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "support/Errors.h"
#include "threads/ThreadClasses.h"

namespace {

constexpr auto kBound = std::chrono::seconds(60);  // generous: only a hang reaches it

int a, b, c;  // their addresses are the queued items

std::vector<void*> Drain(TThreadQueue& queue) {
    queue.RaiseOnEmpty = false;
    std::vector<void*> items;
    while (void* item = queue.Pop()) items.push_back(item);
    return items;
}

TEST(ThreadQueue, PopOrderFollowsFifoSetting) {
    struct Case {
        bool fifo;
        std::vector<void*> expected;
    };
    for (const Case& test : {Case{true, {&a, &b, &c}}, Case{false, {&c, &b, &a}}}) {
        TThreadQueue queue(test.fifo);
        for (void* item : {&a, &b, &c}) EXPECT_EQ(queue.Push(item), item);
        EXPECT_EQ(Drain(queue), test.expected) << "fifo " << test.fifo;
    }
}

// The queue holds b and its event was reset by a pop; then b is pushed a second time.
TEST(ThreadQueue, DuplicateModesDecideSecondPushAndEvent) {
    struct Case {
        TDuplicates mode;
        void* result;
        bool eventSet;
        std::vector<void*> left;
    };
    const Case cases[] = {
        {dmAccept, &b, true, {&b, &b}},
        {dmIgnore, nullptr, true, {&b}},
        {static_cast<TDuplicates>(7), nullptr, true, {&b}},  // unknown mode: as dmIgnore
        {dmError, nullptr, false, {&b}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << static_cast<int>(test.mode));
        TThreadQueue queue(true);
        queue.Duplicates = test.mode;
        queue.Push(&a);
        queue.Push(&b);
        ASSERT_EQ(queue.Pop(), &a);
        ASSERT_FALSE(queue.Event().IsSet()) << "a pop that left an item";
        if (test.mode == dmError) {
            try {
                queue.Push(&b);
                ADD_FAILURE() << "no error";
            } catch (const EListError& error) {
                EXPECT_STREQ(error.what(), "Duplicate item");
            }
        } else {
            EXPECT_EQ(queue.Push(&b), test.result);
        }
        EXPECT_EQ(queue.Event().IsSet(), test.eventSet);
        EXPECT_EQ(Drain(queue), test.left);
    }
}

TEST(ThreadQueue, PopOnEmptyRaisesOnlyWhenAsked) {
    TThreadQueue queue(true);
    queue.Push(&a);
    queue.Pop();
    EXPECT_FALSE(queue.Event().IsSet()) << "a pop that took the only item";
    try {
        queue.Pop();
        ADD_FAILURE() << "no error";
    } catch (const Exception& error) {
        EXPECT_STREQ(error.what(), "Pop on empty queue");
    }
    EXPECT_FALSE(queue.Event().IsSet());

    queue.RaiseOnEmpty = false;
    EXPECT_EQ(queue.Pop(), nullptr);
    EXPECT_FALSE(queue.Event().IsSet());
}

TEST(ThreadQueue, ErrorsLeaveLockFreeForOtherThreads) {
    TThreadQueue queue(true);
    EXPECT_THROW(queue.Pop(), Exception);
    queue.Duplicates = dmError;
    queue.Push(&a);
    EXPECT_THROW(queue.Push(&a), EListError);

    auto other = std::async(std::launch::async, [&queue] {
        queue.Push(&b);
        void* first = queue.Pop();
        void* second = queue.Pop();
        return std::array<void*, 2>{first, second};
    });
    ASSERT_EQ(other.wait_for(kBound), std::future_status::ready) << "lock still held";
    EXPECT_EQ(other.get(), (std::array<void*, 2>{&a, &b}));
}

TEST(ThreadQueue, DestructionLeavesItemsToTheirOwner) {
    auto first = std::make_unique<int>(1);
    auto second = std::make_unique<int>(2);
    {
        TThreadQueue queue(false);
        queue.Push(first.get());
        queue.Push(second.get());
    }
    // Freed twice or read after free if the queue had released them (caught by the sanitizers).
    EXPECT_EQ(*first + *second, 3);
}

// Several producers push their own numbered items while one consumer pops; every item must come
// out exactly once, and each producer's items in the order it pushed them.
TEST(ThreadQueue, ConcurrentProducersLoseNothingAndKeepOrder) {
    constexpr int kProducers = 4;
    constexpr int kItemsEach = 20'000;
    struct Item {
        int producer;
        int sequence;
    };
    std::vector<std::vector<Item>> items(kProducers);
    for (int p = 0; p < kProducers; ++p)
        for (int s = 0; s < kItemsEach; ++s) items[p].push_back({p, s});

    TThreadQueue queue(true);
    queue.RaiseOnEmpty = false;
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&queue, &mine = items[p]] {
            for (Item& item : mine) queue.Push(&item);
        });
    }

    std::vector<int> nextSequence(kProducers, 0);
    int received = 0;
    int outOfOrder = 0;
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    while (received < kProducers * kItemsEach && std::chrono::steady_clock::now() < deadline) {
        auto* item = static_cast<Item*>(queue.Pop());
        if (item == nullptr) {
            queue.Event().WaitFor(100);
            continue;
        }
        if (item->sequence != nextSequence[item->producer]) ++outOfOrder;
        nextSequence[item->producer] = item->sequence + 1;
        ++received;
    }
    for (auto& producer : producers) producer.join();

    EXPECT_EQ(received, kProducers * kItemsEach);
    EXPECT_EQ(outOfOrder, 0);
    EXPECT_EQ(queue.Pop(), nullptr) << "an item came out twice or was left behind";
}

}  // namespace
