#include "launch/port_search.h"

#include <functional>

namespace hm {

namespace {

unsigned NextCandidate(unsigned port) { return port >= kHighestPort ? kLowestSearchPort : port + 1; }

// Every port from 1024 to 65535 plus the ones below 1024 a search may start at: once that many
// candidates clashed, none is free and the search gives up instead of turning forever.
constexpr unsigned kMaxCandidates = kHighestPort + 1;

// The list is asked first: it costs nothing, the host costs a system call.
unsigned Search(unsigned wanted, const std::function<bool(unsigned)>& clashes, const HostPortCheck& takenOnHost) {
    unsigned candidate = wanted;
    for (unsigned tried = 0; tried < kMaxCandidates; ++tried) {
        if (!clashes(candidate) && !(takenOnHost && takenOnHost(candidate))) return candidate;
        candidate = NextCandidate(candidate);
    }
    return 0;
}

}  // namespace

unsigned FindFreeGamePort(unsigned wanted, const CServerInfoArray& servers, const CGlobalOptions& options,
                          const HostPortCheck& takenOnHost) {
    return Search(wanted, [&](unsigned candidate) {
        if (candidate == options.remoteInfo.port) return true;
        for (const auto& entry : servers.entries) {
            if (entry->config.launch.serverPort == candidate) return true;
        }
        return false;
    }, takenOnHost);
}

unsigned FindFreeConsolePort(unsigned wanted, const CServerInfoArray& servers, const HostPortCheck& takenOnHost) {
    return Search(wanted, [&](unsigned candidate) {
        for (const auto& entry : servers.entries) {
            const CGameSettings& game = entry->config.game;
            if (game.allowRemoteConsole && game.remoteConsolePort == candidate) return true;
        }
        return false;
    }, takenOnHost);
}

unsigned FindFreeGameSpyPort(unsigned wanted, const CServerInfoArray& servers, const HostPortCheck& takenOnHost) {
    return Search(wanted, [&](unsigned candidate) {
        for (const auto& entry : servers.entries) {
            const CServerConfig& config = entry->config;
            if (config.trackers.enabled && config.launch.gameSpyPort == candidate) return true;
        }
        return false;
    }, takenOnHost);
}

}  // namespace hm
