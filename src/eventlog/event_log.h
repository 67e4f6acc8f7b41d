// The event list: every status line the program produces for its operator.
//
// Owned by the server manager (the main window's logic). AddEvent may be called from any thread:
// the line is stamped and cut on the caller's thread, written to the global log there (the library
// serialises itself), and handed to the user-interface thread through the event loop; list changes
// happen only on that thread, in call order. A worker never waits for the user-interface thread.
// While `enabled` is off (shutdown), AddEvent does nothing at all. An observer (the notifications and
// the monitoring counters) sees every line's text on the caller's thread as it is added.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace hm {

class EventLoop;
class JotwellBinding;

// Where list changes are shown (the main window's list control, or stdout when headless).
class EventListSink {
public:
    virtual ~EventListSink() = default;
    virtual void EventLineAdded(const std::string& line) = 0;
    virtual void EventLinesRemoved(size_t countFromFront) = 0;
};

// Sees every event line as it is added, on the thread that adds it (a console worker, the update
// thread, the user-interface thread), outside every lock of the list. It must be quick, must never
// wait for another thread and must never add an event line itself.
class EventLineObserver {
public:
    virtual ~EventLineObserver() = default;
    virtual void EventLineAdded(const LocalTime& time, const std::string& text) = 0;
};

class EventLogList {
public:
    static constexpr size_t kTrimAbove = 800;   // more lines than this start a trim ...
    static constexpr size_t kTrimTo = 780;      // ... down to this many
    static constexpr size_t kLineBuffer = 1024; // one formatted line, terminator included
    static constexpr size_t kStampLength = 21;  // "YYYY-MM-DD HH:MM:SS: "

    EventLogList(Clock& clock, JotwellBinding* jotwell, EventLoop* loop);

    void SetSink(EventListSink* sink);
    // Set before any worker adds lines; the observer must outlive every thread that adds them.
    void SetObserver(EventLineObserver* observer) { observer_.store(observer); }

    // printf-style; the texts carry no time stamp and no line end.
    void AddEvent(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void AddEventV(const char* format, va_list args);

    std::atomic<bool> enabled{true};

    // The lines as the list shows them (user-interface thread).
    std::vector<std::string> Lines() const;
    size_t Count() const;

    // Formats the stamp "%04d-%02d-%02d %02d:%02d:%02d: " of the clock's local time.
    static std::string Stamp(Clock& clock);
    static std::string Stamp(const LocalTime& time);

private:
    void Drain();            // moves pending lines into the list (user-interface thread)
    void Append(const std::string& line);

    Clock& clock_;
    JotwellBinding* jotwell_;
    EventLoop* loop_;
    EventListSink* sink_ = nullptr;    // guarded by listLock_ (set on the user-interface thread)
    std::atomic<EventLineObserver*> observer_{nullptr};

    std::mutex pendingLock_;
    std::deque<std::string> pending_;   // call order of every thread
    mutable std::mutex listLock_;
    std::deque<std::string> lines_;
};

}  // namespace hm
