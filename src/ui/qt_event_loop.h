// The user-interface thread of the desktop program: the EventLoop on Qt's own event loop.
//
// Owned by the desktop front-end, created on the GUI thread before the server manager. Post and the
// timer calls are safe from any thread; posted tasks run on the GUI thread in posting order (queued
// calls to one receiver keep their order), timers fire there too. It never blocks a caller.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <map>
#include <mutex>

#include "eventlog/event_loop.h"

namespace hm {

class QtEventLoop : public QObject, public EventLoop {
public:
    QtEventLoop();
    ~QtEventLoop() override;

    void Post(std::function<void()> task) override;
    bool IsLoopThread() const override;
    unsigned SetTimer(uint32_t periodMs, std::function<void()> task) override;
    void KillTimer(unsigned id) override;
    void RunPending() override;

private:
    std::mutex timersLock_;
    std::map<unsigned, QPointer<QTimer>> timers_;
    unsigned nextTimer_ = 1;
};

}  // namespace hm
