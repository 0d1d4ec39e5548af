#include "tcontroller/platform/work_queue.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace tarvo {

// A list of jobs handed between threads under a std::mutex, so that the
// hand-over of every job, and of what it captured, is ordered by a lock that
// ThreadSanitizer sees (Qt's own locks it cannot see).
class JobList {
  public:
    void push(std::function<void()> job) {
        {
            std::lock_guard<std::mutex> hold(mutex_);
            jobs_.push_back(std::move(job));
        }
        wake_.notify_one();
    }
    // The oldest job; empty when there is none (or, waiting, once stopped).
    std::function<void()> take(bool wait) {
        std::unique_lock<std::mutex> hold(mutex_);
        if (wait) {
            wake_.wait(hold, [this] { return stopping_ || !jobs_.empty(); });
        }
        if (stopping_ || jobs_.empty()) {
            return {};
        }
        std::function<void()> job = std::move(jobs_.front());
        jobs_.pop_front();
        return job;
    }
    // Drops the jobs that have not started and wakes a waiting taker.
    void stop() {
        {
            std::lock_guard<std::mutex> hold(mutex_);
            jobs_.clear();
            stopping_ = true;
        }
        wake_.notify_all();
    }
    // Orders everything done under the lock before this call (used after the
    // taking thread has ended).
    void synchronize() { std::lock_guard<std::mutex> hold(mutex_); }

  private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
};

// The main thread's jobs: Qt's event loop only wakes the main thread, through a
// queued call of a named invokable that carries no data; one wake-up per job
// keeps submission order.
class JobInbox : public QObject {
    Q_OBJECT
  public:
    void push(std::function<void()> job) {
        jobs_.push(std::move(job));
        QMetaObject::invokeMethod(this, "runOne", Qt::QueuedConnection);
    }
    Q_INVOKABLE void runOne() {
        if (std::function<void()> job = jobs_.take(false)) {
            job();
        }
    }

  private:
    JobList jobs_;
};

namespace {
JobInbox& mainInbox() {
    static JobInbox* inbox = [] {
        auto* i = new JobInbox;
        i->moveToThread(QCoreApplication::instance()->thread());
        return i;
    }();
    return *inbox;
}
// The main thread's inbox is made as the application object is created, on the
// main thread, so that no worker is the first to touch it.
void createMainInbox() {
    mainInbox();
}
}  // namespace

Q_COREAPP_STARTUP_FUNCTION(createMainInbox)

// The queue's thread: a QThread (so it carries the queue's label as its name)
// whose body is a plain loop over a mutex-guarded deque.
class WorkQueue::Loop : public QThread {
  public:
    void push(std::function<void()> job) { jobs_.push(std::move(job)); }
    // Drops the jobs that have not started, lets the running one finish and
    // ends the loop.
    void finish() {
        jobs_.stop();
        wait();
        // Qt's threads are detached: the list's lock is what orders everything
        // the thread did before this point.
        jobs_.synchronize();
    }

  protected:
    void run() override {
        while (std::function<void()> job = jobs_.take(true)) {
            job();
        }
    }

  private:
    JobList jobs_;
};

WorkQueue::WorkQueue(std::string label, Clock& clock)
    : label_(std::move(label)), clock_(clock), loop_(std::make_unique<Loop>()) {
    loop_->setObjectName(QString::fromStdString(label_));
    loop_->start();
}

WorkQueue::~WorkQueue() {
    loop_->finish();
}

void WorkQueue::async(std::function<void()> job) {
    loop_->push(std::move(job));
}

void WorkQueue::asyncAfter(double seconds, std::function<void()> job) {
    const double deadline = clock_.now() + seconds;
    async([this, deadline, job = std::move(job)] {
        const double remaining = deadline - clock_.now();
        if (remaining > 0) {
            clock_.sleep(remaining);
        }
        job();
    });
}

void postToMain(std::function<void()> job) {
    mainInbox().push(std::move(job));
}

bool isMainThread() {
    auto* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

}  // namespace tarvo

#include "work_queue.moc"
