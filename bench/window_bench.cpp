// The main window under load: 200 status lines and a full event list (780 lines) while events arrive.
// Measures, on Qt's offscreen platform (painting included):
//   - one event line arriving (added, the list trimmed as the core trims it, scrolled, repainted);
//   - one status line rewritten among 200;
//   - a run of 100 events a second with a status line update each second, for 5 s: the longest stall
//     of the GUI thread (the largest gap between two 10 ms ticks beyond their period).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "ui/main_window.h"
#include "ui/presenter.h"

namespace {

using hm::MainWindow;
using hm::StatusLine;

StatusLine Line(unsigned port, unsigned players) {
    StatusLine line;
    line.pid = std::to_string(10000 + port);
    line.name = "Ironworks Anarchy #" + std::to_string(port);
    line.mission = "Ironworks";
    line.gameType = "Anarchy";
    line.port = std::to_string(port);
    line.portNumber = port;
    line.status = "Running - TCP/IP";
    line.players = std::to_string(players) + "/15";
    line.state = hm::LineState::Running;
    return line;
}

struct Loaded {
    hm::DialogPresenter presenter;
    MainWindow window{presenter};
    size_t lines = 0;
    unsigned counter = 0;

    Loaded() {
        window.ShowNormal();
        for (unsigned i = 0; i < 200; ++i) window.UpdateServerLine(Line(2000 + i, 0));
        for (int i = 0; i < 780; ++i) Add();
        QApplication::processEvents();
    }
    void Add() {
        window.EventLineAdded("2026-12-08 10:00:00: Server " + std::to_string(2000 + counter % 200) +
                              ": Player 'Pilot" + std::to_string(counter) + "' has joined.");
        ++counter;
        // The core trims above 800 lines back to 780.
        if (++lines > 800) {
            window.EventLinesRemoved(lines - 780);
            lines = 780;
        }
    }
};

Loaded* g_loaded = nullptr;

void BM_EventLineArrives(benchmark::State& state) {
    for (auto _ : state) {
        g_loaded->Add();
        g_loaded->window.repaint();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EventLineArrives)->Unit(benchmark::kMicrosecond);

void BM_StatusLineUpdate(benchmark::State& state) {
    unsigned n = 0;
    for (auto _ : state) {
        g_loaded->window.UpdateServerLine(Line(2000 + n % 200, n % 16));
        g_loaded->window.repaint();
        ++n;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StatusLineUpdate)->Unit(benchmark::kMicrosecond);

// 100 events a second for 5 s, every status line's players once a second; reports the longest stall.
void BM_HundredEventsASecond(benchmark::State& state) {
    for (auto _ : state) {
        QTimer events, statuses, ticks;
        unsigned n = 0;
        QObject::connect(&events, &QTimer::timeout, [&] { g_loaded->Add(); });
        QObject::connect(&statuses, &QTimer::timeout, [&] {
            for (unsigned i = 0; i < 200; ++i) g_loaded->window.UpdateServerLine(Line(2000 + i, ++n % 16));
        });
        QElapsedTimer clock;
        qint64 last = 0, worst = 0;
        QObject::connect(&ticks, &QTimer::timeout, [&] {
            const qint64 now = clock.elapsed();
            worst = std::max(worst, now - last - 10);
            last = now;
        });
        clock.start();
        events.start(10);
        statuses.start(1000);
        ticks.start(10);
        QEventLoop run;
        QTimer::singleShot(5000, &run, &QEventLoop::quit);
        run.exec();
        state.counters["longest_stall_ms"] = static_cast<double>(worst);
    }
}
BENCHMARK(BM_HundredEventsASecond)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    Loaded loaded;
    g_loaded = &loaded;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
