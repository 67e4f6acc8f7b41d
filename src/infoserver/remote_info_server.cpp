#include "infoserver/remote_info_server.h"

#include <algorithm>
#include <cstdarg>
#include <system_error>
#include <vector>

#include "infoserver/info_protocol.h"

namespace hm {

RemoteInfoServer::RemoteInfoServer(CServerInfoArray& servers, std::recursive_mutex& serverListLock,
                                   TrackerInfoStore& trackerInfo, EventLogList& events, Clock& clock)
    : servers_(servers), serverListLock_(serverListLock), trackerInfo_(trackerInfo), clock_(clock),
      eventList_(&events) {}

RemoteInfoServer::~RemoteInfoServer() { StopInfoServer(true); }

void RemoteInfoServer::AddEvent(const char* format, ...) {
    EventLogList* events = events_.load();
    if (!events) return;
    va_list args;
    va_start(args, format);
    events->AddEventV(format, args);
    va_end(args);
}

void RemoteInfoServer::JoinEndedWorker() {
    if (worker_.joinable() && workerEnded_.load()) worker_.join();
}

int RemoteInfoServer::StartInfoServer(const RemoteInfoSettings& settings, EventLogList& events,
                                      const std::string& alternateAddress) {
    {
        std::lock_guard<std::mutex> guard(settingsLock_);
        settings_ = settings;
    }
    passwordCheck_ = info::PasswordCheck(settings.password);
    JoinEndedWorker();  // a worker that ended on a socket error no longer counts as running
    if (worker_.joinable()) return 0;

    eventList_ = &events;
    events_ = &events;
    alternateAddress_ = alternateAddress;
    AddEvent("Starting remote info server...");
    // A text that is no address binds every address, as the servers' console addresses treat it.
    uint32_t bindAddress = 0;
    if (!alternateAddress.empty() && !ParseAddress(alternateAddress, bindAddress)) bindAddress = 0;
    if (!socket_.Create(SocketType::Datagram) || !socket_.Bind(bindAddress, settings.port)) {
        socket_.Close();
        AddEvent("Error: can not create socket for port %u", static_cast<unsigned>(settings.port));
        return 0;
    }
    senderLines_.clear();
    stopping_ = false;
    workerEnded_ = false;
    try {
        worker_ = std::thread([this] { Worker(); });
    } catch (const std::system_error& error) {
        workerEnded_ = true;
        AddEvent("Failed to start server thread (Error: %u)", static_cast<unsigned>(error.code().value()));
        socket_.Close();
        return 0;
    }
    AddEvent("Remote info server is running on port %u", static_cast<unsigned>(socket_.LocalPort()));
    return 1;
}

void RemoteInfoServer::StopInfoServer(bool quiet) {
    if (quiet) events_ = nullptr;
    if (!worker_.joinable()) return;
    // Closing the socket wakes the worker's receive (or its wait to send) at once.
    stopping_ = true;
    socket_.Close();
    worker_.join();
    AddEvent("Remote info server stopped");
}

int RemoteInfoServer::Restart(const RemoteInfoSettings& settings) {
    return Restart(settings, alternateAddress_);
}

int RemoteInfoServer::Restart(const RemoteInfoSettings& settings, const std::string& alternateAddress) {
    const std::string address = alternateAddress;  // may refer to the member that a start rewrites
    if (IsRunning() && settings == Settings() && address == alternateAddress_) return 1;
    events_ = eventList_;
    StopInfoServer(false);
    if (settings.enabled && !settings.password.empty()) return StartInfoServer(settings, *eventList_, address);
    {
        std::lock_guard<std::mutex> guard(settingsLock_);
        settings_ = settings;
    }
    alternateAddress_ = address;
    passwordCheck_ = info::PasswordCheck(settings.password);
    return 0;
}

bool RemoteInfoServer::IsRunning() const { return worker_.joinable() && !workerEnded_.load(); }

uint16_t RemoteInfoServer::LocalPort() const { return IsRunning() ? socket_.LocalPort() : 0; }

RemoteInfoSettings RemoteInfoServer::Settings() const {
    std::lock_guard<std::mutex> guard(settingsLock_);
    return settings_;
}

void RemoteInfoServer::Worker() {
    // One byte more than the largest request, so a larger datagram shows as too large instead of as a
    // cut one whose length field might match.
    std::vector<uint8_t> buffer(info::kMaxDatagram + 1);
    for (;;) {
        uint32_t address = 0;
        uint16_t port = 0;
        const int received = socket_.ReceiveFrom(buffer.data(), buffer.size(), address, port);
        if (received < 0) break;
        if (received == 0 || static_cast<size_t>(received) > info::kMaxDatagram) continue;
        Serve(buffer.data(), static_cast<size_t>(received), address, port);
    }
    if (!stopping_.load()) AddEvent("Error: remote info server stopped after a socket error");
    socket_.Close();
    workerEnded_ = true;
}

void RemoteInfoServer::Serve(const uint8_t* data, size_t size, uint32_t address, uint16_t port) {
    info::Request request;
    if (!info::ParseRequest(data, size, request)) return;  // no answer to what is not a request

    int32_t status = info::kStatusOk;
    if (request.check != passwordCheck_.load()) {
        ReportBadRequest(BadRequest::Password, address);
        status = info::kStatusInvalidPassword;
    } else {
        switch (request.command) {
            case info::kListServers:
                status = ListServers(address, port);
                break;
            case info::kListTrackerInfo:
                status = ListTrackerInfo(address, port);
                break;
            case info::kSetTrackerInfo:
                if (!request.dataValid) {
                    ReportBadRequest(BadRequest::Command, address);
                    status = info::kStatusInvalidCommand;
                    break;
                }
                trackerInfo_.Set(request.key, request.value);
                break;
            case info::kRemoveTrackerInfo:
                if (!request.dataValid) {
                    ReportBadRequest(BadRequest::Command, address);
                    status = info::kStatusInvalidCommand;
                    break;
                }
                if (!trackerInfo_.Remove(request.key)) status = info::kStatusNotFound;
                break;
            default:
                ReportBadRequest(BadRequest::Command, address);
                status = info::kStatusInvalidCommand;
                break;
        }
    }
    const std::string reply = info::EncodeStatus(status);
    socket_.SendTo(reply.data(), reply.size(), address, port, kStatusWaitMs);
}

int32_t RemoteInfoServer::ListServers(uint32_t address, uint16_t port) {
    std::vector<std::string> records;
    {
        // Only the copy happens under the lock; the sends may wait and must not hold up the list.
        std::lock_guard<std::recursive_mutex> guard(serverListLock_);
        records.reserve(servers_.entries.size());
        for (size_t i = 0; i < servers_.entries.size(); ++i) {
            const CServerConfig& config = servers_.entries[i]->config;
            info::ServerRecord record;
            record.index = static_cast<int32_t>(i);
            record.serverPort = config.launch.serverPort;
            record.gameName = config.game.gameName;
            record.missionTitle = config.game.missionTitle;
            record.scriptName = config.game.scriptName;
            record.maxPlayers = config.game.maxPlayers;
            record.consolePort = config.console.port;
            record.consolePassword = config.console.password;
            records.push_back(info::EncodeServerRecord(record));
        }
    }
    for (const std::string& record : records) {
        if (socket_.SendTo(record.data(), record.size(), address, port, kRecordWaitMs) != static_cast<int>(record.size())) {
            return info::kStatusSendFailed;
        }
    }
    return info::kStatusOk;
}

int32_t RemoteInfoServer::ListTrackerInfo(uint32_t address, uint16_t port) {
    const std::vector<TrackerInfo> entries = trackerInfo_.Entries();  // a copy, taken under the store's lock
    for (size_t i = 0; i < entries.size(); ++i) {
        const std::string record =
            info::EncodeTrackerRecord(info::TrackerRecord{static_cast<int32_t>(i), entries[i].key, entries[i].value});
        if (socket_.SendTo(record.data(), record.size(), address, port, kRecordWaitMs) != static_cast<int>(record.size())) {
            return info::kStatusSendFailed;
        }
    }
    return info::kStatusOk;
}

void RemoteInfoServer::ReportBadRequest(BadRequest kind, uint32_t address) {
    const Tick now = clock_.TickCount();
    const auto key = std::make_pair(address, static_cast<int>(kind));
    auto it = senderLines_.find(key);
    if (it != senderLines_.end() && Elapsed(now, it->second.windowStart) < kEventPeriodMs) {
        ++it->second.suppressed;
        return;
    }
    uint32_t suppressed = 0;
    if (it != senderLines_.end()) {
        suppressed = it->second.suppressed;
        it->second = SenderLines{now, 0};
    } else {
        if (senderLines_.size() >= kSendersKept) {
            // Many senders at once: forget those whose period is over, else the one heard from longest ago.
            std::erase_if(senderLines_, [&](const auto& held) {
                return Elapsed(now, held.second.windowStart) >= kEventPeriodMs;
            });
            if (senderLines_.size() >= kSendersKept) {
                senderLines_.erase(std::min_element(senderLines_.begin(), senderLines_.end(),
                                                    [&](const auto& a, const auto& b) {
                                                        return Elapsed(now, a.second.windowStart) >
                                                               Elapsed(now, b.second.windowStart);
                                                    }));
            }
        }
        senderLines_.emplace(key, SenderLines{now, 0});
    }
    const std::string sender = AddressText(address);
    const char* what = kind == BadRequest::Password ? "invalid password" : "invalid command";
    if (suppressed) {
        AddEvent("Remote info server (%s): %s (and %u more)", sender.c_str(), what, static_cast<unsigned>(suppressed));
    } else {
        AddEvent("Remote info server (%s): %s", sender.c_str(), what);
    }
}

}  // namespace hm
