#pragma once

#include <functional>
#include <memory>
#include <string>

#include "tcontroller/base/clock.h"

namespace tarvo {

// A serial work queue: one thread that runs submitted jobs one at a time, in
// submission order. The label names the thread too, so it shows up in
// debuggers and in `top -H`. Its loop waits on a std::condition_variable, so
// every hand-over of a job (and of what it captured) is visible to
// ThreadSanitizer, and the queue's end is an ordering point too.
class WorkQueue {
  public:
    WorkQueue(std::string label, Clock& clock);
    ~WorkQueue();  // finishes the running job, drops queued ones, joins the thread
    WorkQueue(const WorkQueue&) = delete;
    WorkQueue& operator=(const WorkQueue&) = delete;

    const std::string& label() const { return label_; }
    void async(std::function<void()> job);
    // Runs `job` on this queue once `seconds` have passed on the clock (a deadline
    // of now + seconds). The wait happens on the queue, so jobs submitted later
    // run after this one.
    void asyncAfter(double seconds, std::function<void()> job);

  private:
    class Loop;
    std::string label_;
    Clock& clock_;
    std::unique_ptr<Loop> loop_;
};

// Queues `job` to run on the GUI (main) thread and returns at once.
void postToMain(std::function<void()> job);
bool isMainThread();

}  // namespace tarvo
