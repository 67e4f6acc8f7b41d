#include "update/file_downloader.h"

#include <cstdio>

#include "eventlog/event_log.h"
#include "update/http_common.h"
#include "update/stop_event.h"

namespace hm {

// Appends the body of a 200 answer block by block, with the status texts of each stage.
class DownloadExchange : public http::Exchange {
public:
    DownloadExchange(FileDownloader& owner, std::string& data) : owner_(owner), data_(data) {
        start_ = owner.clock_.TickCount();
    }
    bool tooLarge = false;

protected:
    void OnRequestStarted() override { owner_.SetStatus("Sending request..."); }
    void OnRequestSent() override { owner_.SetStatus("Request sent"); }
    void OnHeadersDone() override { owner_.SetStatus("Response received"); }
    bool OnBody(const char* bytes, size_t size) override {
        if (status != 200) return true;  // the text of an error page (or of a redirect) is not the file
        if (data_.size() + size > owner_.maxBytes) {
            tooLarge = true;
            return false;
        }
        data_.append(bytes, size);
        const Tick seconds = Elapsed(owner_.clock_.TickCount(), start_) / 1000;
        const auto total = static_cast<unsigned long long>(data_.size());
        char text[96];
        if (seconds < 1) {
            std::snprintf(text, sizeof text, "Read %llu bytes", total);
        } else {
            owner_.lastRate = static_cast<double>(total) / seconds / 1024.0;
            std::snprintf(text, sizeof text, "Read %llu bytes (%0.1f Kb/s)", total, owner_.lastRate);
        }
        owner_.SetStatus(text);
        return true;
    }

private:
    FileDownloader& owner_;
    std::string& data_;
    Tick start_ = 0;
};

FileDownloader::FileDownloader(const StopEvent* stop, Clock& clock) : stop_(stop), clock_(clock) {}

void FileDownloader::SetStatus(const std::string& text) {
    statusText = text;
    if (statusWindow) statusWindow(statusText);
}

int FileDownloader::Download(const std::string& url, std::string& data, const std::string& agent,
                             uint32_t receiveTimeoutMs) {
    data.clear();
    lastStatusCode = 0;
    lastHeaders.clear();
    lastRate = 0;

    http::UrlParts parts;
    const http::UrlCheck check = http::SplitUrl(url, parts);
    if (check != http::UrlCheck::Ok) {
        http::ReportUrlProblem(events, check, url);
        SetStatus("");
        return 1;
    }

    const uint32_t timeoutMs = receiveTimeoutMs ? receiveTimeoutMs : kTimeoutMs;
    const long stallSeconds = static_cast<long>((timeoutMs + 999) / 1000);
    http::HeaderList headers;
    DownloadExchange exchange(*this, data);
    bool ok = exchange.Prepare(url, caFile, stallSeconds);
    if (reload) ok = ok && headers.Add("Cache-Control: no-cache") && headers.Add("Pragma: no-cache");
    CURL* e = exchange.Handle();
    ok = ok && curl_easy_setopt(e, CURLOPT_USERAGENT, agent.c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.Get()) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_MAXREDIRS, static_cast<long>(kMaxRedirects)) == CURLE_OK;
    // Without a proxy of its own the connection stays direct (Prepare), whatever the environment says.
    const std::string proxyAddress = proxy.host + ":" + std::to_string(proxy.port);
    if (proxy.enabled) ok = ok && curl_easy_setopt(e, CURLOPT_PROXY, proxyAddress.c_str()) == CURLE_OK;
    if (!ok) {
        SetStatus("");
        return 0;
    }

    const CURLcode code = exchange.Run(stop_);
    lastStatusCode = exchange.status;
    lastHeaders = exchange.headers;
    const bool begun = exchange.status == 200 && exchange.headersDone;
    if (exchange.tooLarge) {
        if (events) {
            events->AddEvent("Error: %s is larger than %llu bytes and was not used.", url.c_str(),
                             static_cast<unsigned long long>(maxBytes));
        }
        data.clear();
        SetStatus("");
        return 0;
    }
    if (code != CURLE_OK || exchange.status != 200 || !exchange.headersDone) {
        // Opened and then broken (or stopped): 0. Never opened, or not a 200 answer: 1 without data.
        exchange.ReportFailure(events, code, parts);
        data.clear();
        SetStatus("");
        return (exchange.stopped || begun) ? 0 : 1;
    }
    SetStatus("Request complete");
    SetStatus("");
    return 1;
}

}  // namespace hm
