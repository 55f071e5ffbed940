#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <thread>

#include "base/concurrent_queue.h"
#include "base/main_run_loop.h"
#include "base/queue_check.h"
#include "base/semaphore.h"
#include "base/serial_queue.h"
#include "support/eventually.h"
#include "support/thread_names.h"

using namespace quintalis;
using namespace quintalis::testing;
using namespace std::chrono_literals;

namespace {

std::string currentThreadName() {
    char name[16] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    return name;
}

}  // namespace

TEST(SerialQueue, RunsTasksOneAtATimeInOrderOnANamedThread) {
    std::vector<int> seen;
    std::atomic<int> running{0};
    bool overlapped = false;
    std::string threadName;
    {
        SerialQueue queue("quintalis.match");
        for (int i = 0; i < 200; ++i) {
            queue.async([&, i] {
                if (running.fetch_add(1) != 0) overlapped = true;
                seen.push_back(i);
                if (i == 0) threadName = currentThreadName();
                running.fetch_sub(1);
            });
        }
    }  // the destructor runs what is queued
    ASSERT_EQ(seen.size(), 200u);
    for (int i = 0; i < 200; ++i) EXPECT_EQ(seen[i], i);
    EXPECT_FALSE(overlapped);
    EXPECT_EQ(threadName, "quintalis.match");
}

TEST(SerialQueue, SyncRunsInlineFromItsOwnThreadAndDelayedTasksByDeadline) {
    SerialQueue queue("q");
    bool innerRan = false;
    queue.sync([&] { queue.sync([&] { innerRan = queue.isCurrent(); }); });
    EXPECT_TRUE(innerRan);

    std::vector<std::string> order;
    Semaphore done;
    queue.asyncAfter(60ms, [&] {
        order.push_back("late");
        done.signal();
    });
    queue.asyncAfter(20ms, [&] { order.push_back("early"); });
    queue.async([&] { order.push_back("now"); });
    ASSERT_TRUE(done.waitFor(5s));
    queue.sync([] {});
    EXPECT_EQ(order, (std::vector<std::string>{"now", "early", "late"}));
}

// The ordered stop ends a queue's thread without destroying the queue, as
// work queued elsewhere may still reach it: what was queued runs, timers
// are dropped, and a later task brings a thread back rather than being lost.
TEST(SerialQueue, StopRunsWhatIsQueuedDropsTimersAndEndsTheThreadUntilTheNextTask) {
    const std::string label = "quintalis.stopq";
    auto threads = [&] { return threadNames().count(label); };
    SerialQueue queue(label);
    EXPECT_EQ(threads(), 0u) << "no thread before the first task";

    std::vector<std::string> ran;
    Semaphore entered, release;
    queue.async([&] {
        entered.signal();
        release.wait();
        ran.push_back("running");
    });
    queue.async([&] { ran.push_back("queued"); });
    queue.asyncAfter(1h, [&] { ran.push_back("timer"); });
    entered.wait();
    EXPECT_EQ(threads(), 1u);
    release.signal();
    queue.stop();
    EXPECT_EQ(ran, (std::vector<std::string>{"running", "queued"}));
    EXPECT_EQ(threads(), 0u) << "joined";

    bool onTheQueue = false;
    queue.sync([&] { onTheQueue = queue.isCurrent(); });
    EXPECT_TRUE(onTheQueue);
    EXPECT_FALSE(queue.isCurrent());
    // A task that a stopping queue runs may post more: that is not lost either.
    Semaphore posted;
    queue.async([&] { queue.async([&] { posted.signal(); }); });
    queue.stop();
    EXPECT_TRUE(posted.waitFor(5s));
    queue.stop();
    EXPECT_EQ(threads(), 0u);
    EXPECT_EQ(ran.size(), 2u) << "the timer set before the first stop never fires";
}

TEST(SerialQueue, TasksPostedFromOtherThreadsWhileItStopsAllRun) {
    SerialQueue queue("q");
    constexpr int kTasks = 5000;
    std::atomic<int> ran{0};
    std::thread poster([&] {
        for (int i = 0; i < kTasks; ++i) queue.async([&] { ++ran; });
    });
    for (int i = 0; i < 200; ++i) queue.stop();
    poster.join();
    queue.sync([] {});
    EXPECT_EQ(ran.load(), kTasks);
}

TEST(ConcurrentQueue, BlockingTasksDoNotStarveEachOther) {
    ConcurrentQueue queue("quintalis.http");
    constexpr int kTasks = 50;
    Semaphore entered;
    Semaphore release;
    Semaphore finished;
    std::string name;
    std::mutex nameMutex;
    for (int i = 0; i < kTasks; ++i) {
        queue.async([&] {
            {
                std::lock_guard lock(nameMutex);
                name = currentThreadName();
            }
            entered.signal();
            release.wait();
            finished.signal();
        });
    }
    // All fifty are inside at once, each blocked on a worker of its own;
    // a queue that made the fifty-first wait for a free worker never gets here.
    int inside = 0;
    while (inside < kTasks && entered.waitFor(30s)) ++inside;
    EXPECT_EQ(inside, kTasks);
    for (int i = 0; i < kTasks; ++i) release.signal();
    for (int i = 0; i < inside; ++i) ASSERT_TRUE(finished.waitFor(30s));
    EXPECT_EQ(name, "quintalis.http");
}

TEST(ConcurrentQueue, WorkersStopAtTheCapAndRetireWhenIdle) {
    ConcurrentQueue queue("capped", 4, 50ms);
    Semaphore release;
    Semaphore started;
    for (int i = 0; i < 10; ++i) {
        queue.async([&] {
            started.signal();
            release.wait();
        });
    }
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(started.waitFor(5s));
    EXPECT_EQ(queue.workerCount(), 4);
    EXPECT_FALSE(started.waitFor(50ms));  // the fifth waits for a free worker
    for (int i = 0; i < 10; ++i) release.signal();
    for (int i = 0; i < 6; ++i) ASSERT_TRUE(started.waitFor(5s));
    EXPECT_TRUE(quintalis::testing::eventually([&] { return queue.workerCount() == 0; }, 30));
}

TEST(MainRunLoop, RunsPostedTasksUntilStoppedAndYieldsToTheOtherLoopAfterABurst) {
    MainRunLoop loop;
    std::vector<int> seen;
    loop.post([&] { seen.push_back(1); });
    loop.postAfter(10ms, [&] { seen.push_back(2); });
    std::thread stopper([&] { loop.postAfter(20ms, [&] { loop.stop(); }); });
    loop.run();
    stopper.join();
    EXPECT_EQ(seen, (std::vector<int>{1, 2}));

    // When another loop drains it, a task that keeps posting another yields.
    int bursts = 0;
    std::function<void()> again = [&] {
        ++bursts;
        loop.post(again);
    };
    loop.post(again);
    loop.runDue();
    EXPECT_GT(bursts, 1);
    EXPECT_LT(bursts, 1000);
}

// State a queue owns is corrupted quietly when two threads touch it, so
// debug builds stop at the first member that runs elsewhere. The main
// thread is whichever last drained the loop, or the one that made it.
TEST(QueueCheck, AMemberOffItsQueueStopsADebugBuild) {
#ifdef NDEBUG
    GTEST_SKIP() << "the checks are compiled into debug builds only";
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    SerialQueue queue("quintalis.owner");
    queue.sync([&] { QUINTALIS_ON_QUEUE(queue); });
    EXPECT_DEATH(QUINTALIS_ON_QUEUE(queue), "ran off its queue quintalis.owner");

    MainRunLoop loop;
    QUINTALIS_ON_QUEUE(loop);
    std::thread drainer([&] {
        loop.post([&] { loop.stop(); });
        loop.run();
        QUINTALIS_ON_QUEUE(loop);
    });
    drainer.join();
    EXPECT_DEATH(QUINTALIS_ON_QUEUE(loop), "ran off its queue main");
#endif
}
