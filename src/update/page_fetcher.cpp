#include "update/page_fetcher.h"

#include <cstdio>

#include "eventlog/event_log.h"
#include "update/http_common.h"
#include "update/stop_event.h"

namespace hm {

namespace {

// Collects one response, counting header and body bytes against the document limit.
class PageExchange : public http::Exchange {
public:
    bool tooLarge = false;
    std::string body;

protected:
    bool OnHeaderBytes(size_t size) override { return Count(size); }
    bool OnBody(const char* data, size_t size) override {
        if (!Count(size)) return false;
        body.append(data, size);
        return true;
    }

private:
    bool Count(size_t size) {
        received_ += size;
        if (received_ > PageFetcher::kMaxDocumentBytes) tooLarge = true;
        return !tooLarge;
    }
    size_t received_ = 0;
};

}  // namespace

PageFetcher::PageFetcher(EventLogList* events, const StopEvent* stop) : events_(events), stop_(stop) {}

int PageFetcher::Fetch(const std::string& url, std::string& body) {
    body.clear();
    lastStatus = 0;
    std::string next = url;
    long status = 302;
    bool abandoned = false;
    for (int attempt = 0; attempt < kMaxAttempts && status == 302; ++attempt) {
        if (stop_ && stop_->IsSet()) {
            abandoned = true;
            break;
        }
        Attempt answer = Request(next);
        if (answer.status != 0) lastStatus = static_cast<int>(answer.status);
        if (answer.abandoned) {
            abandoned = true;
            break;
        }
        status = answer.status;
        body = std::move(answer.body);
        if (status == 302 && !answer.location.empty()) next = answer.location;
    }
    if (abandoned || status != 200) {
        body.clear();
        if (events_) events_->AddEvent("Warning: Version check failed.");
        return 0;
    }
    return body.empty() ? 0 : 1;
}

PageFetcher::Attempt PageFetcher::Request(const std::string& url) {
    Attempt answer;
    answer.abandoned = true;
    http::UrlParts parts;
    const http::UrlCheck check = http::SplitUrl(url, parts);
    if (check != http::UrlCheck::Ok) {
        http::ReportUrlProblem(events_, check, url);
        return answer;
    }

    // The request exactly as the program always sent it; curl adds no header of its own to these.
    char agent[128];
    std::snprintf(agent, sizeof agent, "User-Agent: %s/%u.%u (Windows; U; 32bit)", kProgramName, kVersionMajor,
                  kVersionMinor);
    http::HeaderList headers;
    PageExchange exchange;
    bool ok = headers.Add("Accept: */*") && headers.Add(agent) &&
              headers.Add("Host: " + parts.host + ":" + std::to_string(parts.port)) &&
              exchange.Prepare(url, caFile, static_cast<long>(kTimeoutMs / 1000));
    CURL* e = exchange.Handle();
    ok = ok && curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.Get()) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, static_cast<long>(kAttemptCapMs)) == CURLE_OK;
    if (!ok) {
        if (events_) events_->AddEvent("Error: failed to send file request");
        return answer;
    }

    const CURLcode code = exchange.Run(stop_);
    answer.status = exchange.status;
    if (exchange.tooLarge) {
        if (events_) events_->AddEvent("Error: %s is larger than 64 KB and was not used.", url.c_str());
        return answer;
    }
    if (code != CURLE_OK) {
        // Nothing usable: no answer at all, or one cut off (inside the headers or the body).
        exchange.ReportFailure(events_, code, parts);
        return answer;
    }
    if (!exchange.statusSeen || !exchange.headersDone) {
        // curl ends a response cut off inside its headers without an error; it is no answer either.
        if (!exchange.statusSeen && events_) events_->AddEvent("Error: failed to receive file");
        return answer;
    }
    answer.abandoned = false;
    answer.body = std::move(exchange.body);
    char* location = nullptr;
    if (exchange.status == 302 && curl_easy_getinfo(e, CURLINFO_REDIRECT_URL, &location) == CURLE_OK && location) {
        answer.location = location;
    }
    return answer;
}

}  // namespace hm
