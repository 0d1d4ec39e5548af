#include "tcontroller/platform/work_queue.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace tarvo {

WorkQueue::WorkQueue(std::string label, Clock& clock)
    : label_(std::move(label)), clock_(clock), context_(new QObject) {
    thread_.setObjectName(QString::fromStdString(label_));
    context_->moveToThread(&thread_);
    // The context is deleted on its own thread once the loop has ended.
    QObject::connect(&thread_, &QThread::finished, context_, &QObject::deleteLater);
    thread_.start();
}

WorkQueue::~WorkQueue() {
    thread_.quit();
    thread_.wait();
}

void WorkQueue::async(std::function<void()> job) {
    QMetaObject::invokeMethod(context_, std::move(job), Qt::QueuedConnection);
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

bool WorkQueue::isCurrent() const { return QThread::currentThread() == &thread_; }

void postToMain(std::function<void()> job) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(job), Qt::QueuedConnection);
}

bool isMainThread() {
    auto* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

}  // namespace tarvo
