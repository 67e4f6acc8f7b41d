// Fetches the small text documents of the update site (the version page, the banned-address list, the
// banned nicknames list): at most kMaxAttempts requests following 302 answers, a body of at most 64 KB.
//
// Owned and used by the update thread; one Fetch at a time. Failures become event lines (events may be
// null). It never waits on the network after the stop event is set (a running transfer is dropped
// within a tenth of a second), never cuts a document that is too large (it refuses it), never turns off
// certificate checks, and never follows a redirect to anything but http or https.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace hm {

class EventLogList;
class StopEvent;

class PageFetcher {
public:
    static constexpr int kMaxAttempts = 4;               // requests per Fetch while the answer is 302
    static constexpr uint32_t kTimeoutMs = 2000;         // connect; and a transfer silent this long ends
    static constexpr uint32_t kAttemptCapMs = 10000;     // the most one request may take
    static constexpr size_t kMaxDocumentBytes = 65535;   // response headers and body together
    static constexpr const char* kProgramName = "Haldmoor3";
    static constexpr unsigned kVersionMajor = 3;
    static constexpr unsigned kVersionMinor = 0;

    PageFetcher(EventLogList* events, const StopEvent* stop);

    // 1 when the final response had status 200 and a non-empty body (then in body); otherwise 0 and
    // body empty. Every failure but a complete, empty 200 answer ends with "Warning: Version check
    // failed." (the same words for all three documents).
    int Fetch(const std::string& url, std::string& body);

    std::string caFile;   // certificates to trust for https ("" = the system's)
    int lastStatus = 0;   // status of the last response seen (0: none)

private:
    struct Attempt {
        bool abandoned = false;  // stopped, refused, or no complete response
        long status = 0;
        std::string body;
        std::string location;    // where a 302 points (absolute), "" without a Location header
    };
    Attempt Request(const std::string& url);

    EventLogList* events_;
    const StopEvent* stop_;
};

}  // namespace hm
