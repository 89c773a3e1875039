// The engine's kept threads: tasks run at once on threads of their own, and
// what a task did is there for whoever waited for it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "JpegRotation/threads/WorkerPool.h"

namespace plume {
namespace {

TEST(WorkerPool, TasksRunTogetherAndWaitSeesTheirWork) {
    TWorkerPool pool;
    pool.Prepare(2);
    EXPECT_EQ(pool.Size(), 2);
    for (int round = 0; round < 3; ++round) {
        // Four tasks that each wait until all four run: they finish only if
        // each has a thread of its own, two of them new ones.
        constexpr int kTasks = 4;
        std::atomic<int> running{0};
        std::vector<int> done(kTasks, 0);
        std::vector<TWorkerPool::TTicket> tickets;
        for (int t = 0; t < kTasks; ++t)
            tickets.push_back(pool.Run([&running, &done, t] {
                ++running;
                const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
                while (running.load() < kTasks && std::chrono::steady_clock::now() < deadline)
                    std::this_thread::yield();
                done[static_cast<std::size_t>(t)] = running.load();
            }));
        for (TWorkerPool::TTicket& ticket : tickets) ticket.Wait();
        EXPECT_EQ(done, std::vector<int>(kTasks, kTasks)) << "round " << round;
        EXPECT_EQ(pool.Size(), kTasks);  // the threads are kept and used again
    }
    TWorkerPool::TTicket none;
    none.Wait();  // a ticket without a task
}

}  // namespace
}  // namespace plume
