// What the two HTTP clients of the update module (PageFetcher, FileDownloader) share on top of libcurl:
// the one global curl initialisation, the split of a URL into service, host, path and port, the common
// options of a transfer (time-outs, certificate file, HTTP/1.1, no proxy unless asked), a transfer loop
// that a stop event ends within a tenth of a second, and the event lines of a failed connection.
//
// Used on the update thread only (each client object belongs to one thread; curl handles are never
// shared). It must never turn off certificate or host-name checks, never follow redirects on its own
// (each client decides), and never use text from the network as a format.
#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace hm {

class EventLogList;
class StopEvent;

namespace http {

inline constexpr uint32_t kConnectTimeoutMs = 2000;  // connecting (and the TLS handshake)
inline constexpr long kStallSeconds = 2;              // a transfer that receives nothing this long is abandoned
inline constexpr int kStopPollMs = 100;               // how often a running transfer looks at the stop event

// curl_global_init once per process (never cleaned up: threads may still hold handles at exit).
void GlobalInit();

enum class UrlCheck { Ok, Unparsable, NotHttp };

struct UrlParts {
    std::string service;  // "http" or "https" (lower case)
    std::string host;     // as in the URL ("[::1]" for an IPv6 address)
    std::string path;     // path and query, "/" at least
    unsigned port = 0;    // the URL's port or the service's default (80, 443)
};

// Any well-formed URL splits (an unknown service too); only http and https are Ok.
UrlCheck SplitUrl(const std::string& url, UrlParts& parts);
// The event line of a URL that is not Ok ("Error: Failed to parse URL %s" or "Error: Only HTTP downloads
// supported"); nothing for Ok. events may be null.
void ReportUrlProblem(EventLogList* events, UrlCheck check, const std::string& url);

// One transfer on one easy handle, seen through curl's callbacks. Each client derives its own
// exchange to collect the body its way. Not copyable: curl holds a pointer to it during Run.
class Exchange {
public:
    Exchange();
    virtual ~Exchange();
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;

    CURL* Handle() const { return easy_; }
    // The options both clients use: the URL, HTTP/1.1, only http and https, no automatic redirects,
    // a direct connection (no proxy from the environment), connect time-out, stall time-out of
    // stallSeconds, certificate file caFile ("" = the system's), and the callbacks below. False when
    // curl has no handle or refuses an option.
    bool Prepare(const std::string& url, const std::string& caFile, long stallSeconds);
    // Runs the transfer to its end. The stop event (may be null) is looked at every kStopPollMs; when
    // set, the transfer is abandoned, `stopped` is set and the result is CURLE_ABORTED_BY_CALLBACK.
    CURLcode Run(const StopEvent* stop);
    // The event lines of a transfer that failed before any status line arrived: "Can't resolve address",
    // "Can't connect to" (with curl's error text after a TLS failure), "failed to send file request",
    // "failed to receive file". Nothing when stopped or when a status line was seen.
    void ReportFailure(EventLogList* events, CURLcode code, const UrlParts& parts) const;

    bool stopped = false;
    bool requestStarted = false;  // connected (TLS done) and about to send a request
    bool statusSeen = false;      // some response's status line arrived
    bool headersDone = false;     // the latest response's header block is complete
    long status = 0;              // status code of the latest response
    std::string headers;          // raw header block of the latest response (status line included)

protected:
    // Hooks of the derived exchanges; returning false from one of the first two aborts the transfer.
    virtual bool OnHeaderBytes(size_t size) { return true; }   // every header line, also of 1xx/redirects
    virtual bool OnBody(const char* data, size_t size) = 0;
    virtual void OnRequestStarted() {}
    virtual void OnRequestSent() {}
    virtual void OnHeadersDone() {}

private:
    static size_t HeaderCallback(char* data, size_t size, size_t count, void* self);
    static size_t WriteCallback(char* data, size_t size, size_t count, void* self);
    static int PrereqCallback(void* self, char* primaryIp, char* localIp, int primaryPort, int localPort);
    static int DebugCallback(CURL* easy, curl_infotype type, char* data, size_t size, void* self);

    CURL* easy_ = nullptr;
    char error_[CURL_ERROR_SIZE] = {};
};

// An owned curl_slist of request headers.
class HeaderList {
public:
    HeaderList() = default;
    ~HeaderList() { curl_slist_free_all(list_); }
    HeaderList(const HeaderList&) = delete;
    HeaderList& operator=(const HeaderList&) = delete;
    bool Add(const std::string& line);
    curl_slist* Get() const { return list_; }

private:
    curl_slist* list_ = nullptr;
};

}  // namespace http
}  // namespace hm
