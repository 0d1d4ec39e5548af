// The serial work queue: its jobs run one at a time, in the order they were
// queued (a job queued from a job included), and its end lets the running job
// finish, drops the queued ones and runs nothing afterwards.
#include "tcontroller/platform/work_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"
#include "tcontroller/base/clock.h"

namespace tarvo {
namespace {

// Far longer than any of these jobs takes: only a queue that lost a job, or
// never lets one finish, reaches it.
constexpr auto kWait = std::chrono::seconds(60);

// What the jobs did, in order, and a way to wait for it.
class Journal {
  public:
    void add(std::string entry) {
        entries_.mutate([&](auto& all) { all.push_back(std::move(entry)); });
    }
    bool waitFor(const std::string& entry) {
        return test::waitUntil([&] {
            const auto all = entries();
            return std::find(all.begin(), all.end(), entry) != all.end();
        });
    }
    std::vector<std::string> entries() const { return entries_.get(); }

  private:
    Guarded<std::vector<std::string>> entries_;
};

// Notes in the journal when a job is let go, run or not.
struct ReleaseNote {
    Journal* journal;
    std::string entry;
    ~ReleaseNote() { journal->add(entry); }
};

// A job queued by a job waits for the jobs queued before it, and for the job
// that queued it to end.
TEST(WorkQueue, RunsItsJobsOneAtATimeInTheOrderQueued) {
    // What the jobs use is made before the queue, so it outlives the queue's thread.
    Journal journal;
    std::atomic<int> running{0};
    std::atomic<int> mostAtOnce{0};
    std::promise<void> allQueued;
    SystemClock clock;
    WorkQueue queue("test.serial", clock);
    constexpr int kJobs = 200;
    for (int i = 0; i < kJobs; ++i) {
        queue.async([&, i] {
            const int now = ++running;
            mostAtOnce.store(std::max(mostAtOnce.load(), now));
            if (i == 0) {
                allQueued.get_future().wait_for(kWait);
                queue.async([&] { journal.add("queued by the first"); });
            }
            // Long enough for a second worker, if there were one, to start
            // the next job meanwhile.
            std::this_thread::sleep_for(std::chrono::microseconds(i == 0 ? 5000 : 200));
            journal.add(std::to_string(i));
            --running;
        });
    }
    allQueued.set_value();
    ASSERT_TRUE(journal.waitFor("queued by the first"));
    std::vector<std::string> expected;
    for (int i = 0; i < kJobs; ++i) {
        expected.push_back(std::to_string(i));
    }
    expected.push_back("queued by the first");
    EXPECT_EQ(journal.entries(), expected);
    EXPECT_EQ(mostAtOnce.load(), 1);
}

// As its header says: the running job finishes, the queued ones are dropped
// without running, and once the queue is gone no job of it runs.
TEST(WorkQueue, ItsEndFinishesTheRunningJobAndDropsTheQueuedOnes) {
    Journal journal;
    std::mutex gateMutex;
    std::condition_variable gateChanged;
    bool gateOpen = false;
    std::atomic<bool> queueGone{false};
    SystemClock clock;
    auto queue = std::make_unique<WorkQueue>("test.end", clock);
    queue->async([&] {
        journal.add("running job begins");
        std::unique_lock<std::mutex> hold(gateMutex);
        gateChanged.wait_for(hold, kWait, [&] { return gateOpen; });
        journal.add(queueGone.load() ? "running job ended after the queue" : "running job ends");
    });
    for (int i = 1; i <= 3; ++i) {
        std::shared_ptr<ReleaseNote> note(
            new ReleaseNote{&journal, "queued job " + std::to_string(i) + " let go"});
        queue->async(
            [&journal, note, i] { journal.add("queued job " + std::to_string(i) + " ran"); });
    }
    ASSERT_TRUE(journal.waitFor("running job begins"));

    std::thread ender([&] {
        queue.reset();
        queueGone.store(true);
    });
    // The queued jobs are let go while the running one still waits.
    const bool dropped = journal.waitFor("queued job 3 let go");
    {
        std::lock_guard<std::mutex> hold(gateMutex);
        gateOpen = true;
    }
    gateChanged.notify_all();
    ender.join();
    EXPECT_TRUE(dropped);
    std::vector<std::string> entries = journal.entries();
    ASSERT_EQ(entries.size(), 5u);
    // The order in which the dropped jobs are let go is the queue's affair.
    std::sort(entries.begin() + 1, entries.begin() + 4);
    EXPECT_EQ(entries, (std::vector<std::string>{"running job begins", "queued job 1 let go",
                                                 "queued job 2 let go", "queued job 3 let go",
                                                 "running job ends"}));
}

}  // namespace
}  // namespace tarvo
