// Binary downloads of any size (a new program file) with progress texts, over http or https.
//
// Owned and used by the update thread; one Download at a time. The status window (optional) is called
// on that thread with every status text. Time comes from the Clock given at construction, so tests
// drive the transfer rate. It never waits on the network after the stop event is set, never keeps a
// download beyond maxBytes in memory, never turns off certificate checks, and follows at most
// kMaxRedirects redirects, to http or https only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/clock.h"

namespace hm {

class EventLogList;
class StopEvent;

class FileDownloader {
public:
    static constexpr int kMaxRedirects = 4;
    static constexpr uint32_t kTimeoutMs = 2000;  // connect; and the default of a silent transfer

    explicit FileDownloader(const StopEvent* stop = nullptr, Clock& clock = RealClock());

    // 1 when the transfer completed: data holds every byte of a 200 answer. 1 with empty data when the
    // URL cannot be opened (bad URL, no connection, an answer other than 200; the caller treats empty
    // data as failure). 0 with empty data on an internal failure, when the transfer broke off after
    // the data had begun, when it was stopped, or beyond maxBytes. receiveTimeoutMs: how long the
    // transfer may receive nothing (0 = kTimeoutMs; whole seconds, at least one).
    int Download(const std::string& url, std::string& data, const std::string& agent = "Haldmoor3",
                 uint32_t receiveTimeoutMs = 0);

    bool reload = false;  // bypass caches: "Cache-Control: no-cache" and "Pragma: no-cache"
    struct Proxy {
        std::string host;
        unsigned port = 0;
        bool enabled = false;
    } proxy;              // used as host:port when enabled; otherwise the connection is direct
    std::string caFile;   // certificates to trust for https ("" = the system's)
    uint64_t maxBytes = 256ull << 20;
    std::function<void(const std::string&)> statusWindow;
    EventLogList* events = nullptr;  // why a URL could not be opened (may stay null)

    long lastStatusCode = 0;   // of the final response (0: none)
    std::string lastHeaders;   // raw header block of the final response
    std::string statusText;    // the latest status text ("" when idle)
    double lastRate = 0;       // KB/s of the latest block that had a rate

private:
    friend class DownloadExchange;
    void SetStatus(const std::string& text);

    const StopEvent* stop_;
    Clock& clock_;
};

}  // namespace hm
