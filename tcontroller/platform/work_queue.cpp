#include "tcontroller/platform/work_queue.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace tarvo {

// Jobs are handed between threads through a queue guarded by a std::mutex; Qt's
// event loop only wakes the receiving thread, through a queued call of a named
// invokable that carries no data. The hand-over of every job and of what it
// captured is therefore ordered by a lock that ThreadSanitizer sees (Qt's own
// locks it cannot see).
class JobInbox : public QObject {
    Q_OBJECT
  public:
    void push(std::function<void()> job) {
        {
            std::lock_guard<std::mutex> hold(mutex_);
            jobs_.push_back(std::move(job));
        }
        QMetaObject::invokeMethod(this, "runOne", Qt::QueuedConnection);
    }
    // Runs the oldest job; one wake-up per job keeps submission order.
    Q_INVOKABLE void runOne() {
        std::function<void()> job;
        {
            std::lock_guard<std::mutex> hold(mutex_);
            if (jobs_.empty()) {
                return;
            }
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }

    // Forgets the jobs that have not started.
    void dropPending() {
        std::deque<std::function<void()>> dropped;
        {
            std::lock_guard<std::mutex> hold(mutex_);
            dropped.swap(jobs_);
        }
    }

  private:
    std::mutex mutex_;
    std::deque<std::function<void()>> jobs_;
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

WorkQueue::WorkQueue(std::string label, Clock& clock)
    : label_(std::move(label)), clock_(clock), context_(new JobInbox) {
    thread_.setObjectName(QString::fromStdString(label_));
    context_->moveToThread(&thread_);
    thread_.start();
}

WorkQueue::~WorkQueue() {
    // Queued jobs are dropped; the running one finishes. A last job then tells
    // this thread, through a std::mutex, that the queue is idle: Qt's threads
    // are detached, so their end is no ordering edge ThreadSanitizer could see.
    auto* inbox = static_cast<JobInbox*>(context_);
    inbox->dropPending();
    std::mutex m;
    std::condition_variable idle;
    bool done = false;
    inbox->push([&] {
        std::lock_guard<std::mutex> hold(m);
        done = true;
        idle.notify_all();
    });
    {
        std::unique_lock<std::mutex> hold(m);
        idle.wait(hold, [&] { return done; });
    }
    thread_.quit();
    thread_.wait();
    delete context_;
}

void WorkQueue::async(std::function<void()> job) {
    static_cast<JobInbox*>(context_)->push(std::move(job));
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

bool WorkQueue::isCurrent() const {
    return QThread::currentThread() == &thread_;
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
