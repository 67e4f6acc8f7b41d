#include "ui/qt_event_loop.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace hm {

QtEventLoop::QtEventLoop() = default;

QtEventLoop::~QtEventLoop() {
    std::lock_guard<std::mutex> guard(timersLock_);
    for (auto& [id, timer] : timers_) delete timer.data();
}

void QtEventLoop::Post(std::function<void()> task) {
    QMetaObject::invokeMethod(this, [task = std::move(task)] { task(); }, Qt::QueuedConnection);
}

bool QtEventLoop::IsLoopThread() const { return QThread::currentThread() == thread(); }

unsigned QtEventLoop::SetTimer(uint32_t periodMs, std::function<void()> task) {
    unsigned id = 0;
    {
        std::lock_guard<std::mutex> guard(timersLock_);
        id = nextTimer_++;
        timers_[id] = nullptr;
    }
    auto create = [this, id, periodMs, task = std::move(task)] {
        std::lock_guard<std::mutex> guard(timersLock_);
        // A KillTimer that came first (from another thread) leaves no entry to fill.
        auto found = timers_.find(id);
        if (found == timers_.end()) return;
        auto* timer = new QTimer(this);
        timer->setInterval(static_cast<int>(periodMs));
        QObject::connect(timer, &QTimer::timeout, this, task);
        found->second = timer;
        timer->start();
    };
    if (IsLoopThread()) {
        create();
    } else {
        QMetaObject::invokeMethod(this, create, Qt::QueuedConnection);
    }
    return id;
}

void QtEventLoop::KillTimer(unsigned id) {
    QPointer<QTimer> timer;
    {
        std::lock_guard<std::mutex> guard(timersLock_);
        auto found = timers_.find(id);
        if (found == timers_.end()) return;
        timer = found->second;
        timers_.erase(found);
    }
    if (!timer) return;
    if (IsLoopThread()) {
        delete timer.data();
    } else {
        QMetaObject::invokeMethod(this, [timer] { delete timer.data(); }, Qt::QueuedConnection);
    }
}

void QtEventLoop::RunPending() { QCoreApplication::sendPostedEvents(this); }

}  // namespace hm
