#include "supervision/console_state.h"

#include <cmath>

namespace hm {

ConsoleState::ConsoleState(const ConsoleSettings& copy, uint16_t port, Tick now)
    : settings(copy), serverPort(port), lastReceiveTick(now) {}

size_t ConsoleState::PlayerArraySize() const {
    std::lock_guard<std::mutex> guard(lock);
    return players.size();
}

std::vector<PlayerSlot> ConsoleState::PlayersSnapshot() const {
    std::lock_guard<std::mutex> guard(lock);
    return players;
}

void ConsoleState::ReplacePlayers(std::vector<PlayerSlot> fresh) {
    std::lock_guard<std::mutex> guard(lock);
    players.swap(fresh);
}

void ConsoleState::ClearPlayers() {
    std::lock_guard<std::mutex> guard(lock);
    players.clear();
}

void ConsoleState::SetFlag(std::atomic<uint32_t>& flag) {
    std::lock_guard<std::mutex> guard(lock);
    flag = 1;
}

uint32_t RespawnTimeFor(const ConsoleSettings& settings, int64_t players) {
    const uint32_t maxTime = settings.maxRespawnTime;
    const uint32_t minTime = settings.minRespawnTime;
    if (players < 3) return maxTime;
    // Rounded to the nearest second; a step that is no number or not positive lowers nothing.
    const double raw = static_cast<double>(players - 2) * static_cast<double>(settings.respawnStep) + 0.5;
    if (!(raw > 0.0)) return maxTime;
    // With more players than slots the reduction can pass the maximum; the floor is the minimum then,
    // never a wrapped-around huge time.
    if (raw >= static_cast<double>(maxTime)) return minTime < maxTime ? minTime : maxTime;
    const uint32_t reduction = static_cast<uint32_t>(std::floor(raw));
    const uint32_t time = maxTime - reduction;
    if (time < minTime) return minTime < maxTime ? minTime : maxTime;
    return time;
}

bool IsDottedIPv4(const std::string& text) {
    size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.') return false;
            ++pos;
        }
        size_t digits = 0;
        unsigned value = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            value = value * 10 + static_cast<unsigned>(text[pos] - '0');
            ++pos;
            ++digits;
            if (value > 255) return false;
        }
        if (digits == 0) return false;
    }
    return pos == text.size();
}

}  // namespace hm
