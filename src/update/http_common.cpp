#include "update/http_common.h"

#include <cstdlib>
#include <mutex>

#include "eventlog/event_log.h"
#include "update/stop_event.h"

namespace hm::http {

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

namespace {

std::string Part(CURLU* url, CURLUPart part, unsigned flags = 0) {
    char* text = nullptr;
    if (curl_url_get(url, part, &text, flags) != CURLUE_OK || !text) return "";
    std::string result(text);
    curl_free(text);
    return result;
}

bool IsTlsFailure(CURLcode code) {
    switch (code) {
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_ENGINE_INITFAILED:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_CLIENTCERT:
            return true;
        default:
            return false;
    }
}

}  // namespace

UrlCheck SplitUrl(const std::string& url, UrlParts& parts) {
    parts = UrlParts{};
    CURLU* handle = curl_url();
    if (!handle) return UrlCheck::Unparsable;
    // Any well-formed service is accepted here, so that ftp:// reads as "not HTTP", not as garbage.
    UrlCheck result = UrlCheck::Unparsable;
    if (curl_url_set(handle, CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK) {
        parts.service = Part(handle, CURLUPART_SCHEME);
        parts.host = Part(handle, CURLUPART_HOST);
        parts.path = Part(handle, CURLUPART_PATH);
        if (parts.path.empty()) parts.path.push_back('/');  // (not = "/": a false -Wrestrict of GCC 12)
        const std::string query = Part(handle, CURLUPART_QUERY);
        if (!query.empty()) {
            parts.path += '?';
            parts.path += query;
        }
        const std::string port = Part(handle, CURLUPART_PORT, CURLU_DEFAULT_PORT);
        parts.port = static_cast<unsigned>(std::strtoul(port.c_str(), nullptr, 10));
        if (!parts.host.empty()) {
            result = (parts.service == "http" || parts.service == "https") ? UrlCheck::Ok : UrlCheck::NotHttp;
        }
    }
    curl_url_cleanup(handle);
    return result;
}

void ReportUrlProblem(EventLogList* events, UrlCheck check, const std::string& url) {
    if (!events || check == UrlCheck::Ok) return;
    if (check == UrlCheck::Unparsable) {
        events->AddEvent("Error: Failed to parse URL %s", url.c_str());
    } else {
        events->AddEvent("Error: Only HTTP downloads supported");
    }
}

bool HeaderList::Add(const std::string& line) {
    curl_slist* grown = curl_slist_append(list_, line.c_str());
    if (!grown) return false;
    list_ = grown;
    return true;
}

Exchange::Exchange() {
    GlobalInit();
    easy_ = curl_easy_init();
}

Exchange::~Exchange() {
    if (easy_) curl_easy_cleanup(easy_);
}

bool Exchange::Prepare(const std::string& url, const std::string& caFile, long stallSeconds) {
    if (!easy_) return false;
    CURL* e = easy_;
    bool ok = curl_easy_setopt(e, CURLOPT_URL, url.c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1)) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
    // Direct unless a client sets a proxy itself: http_proxy of the environment does not apply.
    ok = ok && curl_easy_setopt(e, CURLOPT_PROXY, "") == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(kConnectTimeoutMs)) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, stallSeconds) == CURLE_OK;
    if (!caFile.empty()) ok = ok && curl_easy_setopt(e, CURLOPT_CAINFO, caFile.c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_ERRORBUFFER, error_) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Exchange::HeaderCallback) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_HEADERDATA, this) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Exchange::WriteCallback) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_WRITEDATA, this) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, &Exchange::PrereqCallback) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_PREREQDATA, this) == CURLE_OK;
    // The debug callback is the only place curl tells that the request went out; with it set,
    // curl's verbose texts go to the callback (which drops them), never to stderr.
    ok = ok && curl_easy_setopt(e, CURLOPT_DEBUGFUNCTION, &Exchange::DebugCallback) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_DEBUGDATA, this) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_VERBOSE, 1L) == CURLE_OK;
    return ok;
}

CURLcode Exchange::Run(const StopEvent* stop) {
    if (!easy_) return CURLE_FAILED_INIT;
    // The multi interface instead of curl_easy_perform, so the stop event is seen between polls of at
    // most kStopPollMs, also while curl waits for a name, a connection or a silent server.
    CURLM* multi = curl_multi_init();
    if (!multi) return CURLE_OUT_OF_MEMORY;
    if (curl_multi_add_handle(multi, easy_) != CURLM_OK) {
        curl_multi_cleanup(multi);
        return CURLE_FAILED_INIT;
    }
    CURLcode result = CURLE_OK;
    for (bool done = false; !done;) {
        if (stop && stop->IsSet()) {
            stopped = true;
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == easy_) {
                result = message->data.result;
                done = true;
            }
        }
        if (done || running == 0) break;
        curl_multi_poll(multi, nullptr, 0, kStopPollMs, nullptr);
    }
    curl_multi_remove_handle(multi, easy_);
    curl_multi_cleanup(multi);
    return result;
}

void Exchange::ReportFailure(EventLogList* events, CURLcode code, const UrlParts& parts) const {
    if (!events || stopped || statusSeen || code == CURLE_OK) return;
    const char* detail = error_[0] ? error_ : curl_easy_strerror(code);
    // A name that did not resolve within the connect time-out ends as a time-out with no address tried.
    char* address = nullptr;
    const bool noAddress = curl_easy_getinfo(easy_, CURLINFO_PRIMARY_IP, &address) != CURLE_OK || !address || !*address;
    if (code == CURLE_COULDNT_RESOLVE_HOST || (code == CURLE_OPERATION_TIMEDOUT && !requestStarted && noAddress)) {
        events->AddEvent("Error: Can't resolve address %s", parts.host.c_str());
    } else if (IsTlsFailure(code)) {
        events->AddEvent("Error: Can't connect to %s", parts.host.c_str());
        events->AddEvent("Error: %s", detail);
    } else if (!requestStarted) {
        events->AddEvent("Error: Can't connect to %s", parts.host.c_str());
    } else if (code == CURLE_SEND_ERROR) {
        events->AddEvent("Error: failed to send file request");
    } else {
        events->AddEvent("Error: failed to receive file");
    }
}

size_t Exchange::HeaderCallback(char* data, size_t size, size_t count, void* self) {
    auto* exchange = static_cast<Exchange*>(self);
    const size_t bytes = size * count;
    const std::string line(data, bytes);
    if (line.compare(0, 5, "HTTP/") == 0) {
        // A new response (after a 1xx or a redirect): its own status and header block.
        exchange->statusSeen = true;
        exchange->headersDone = false;
        exchange->headers.clear();
        const size_t blank = line.find(' ');
        exchange->status = blank == std::string::npos ? 0 : std::strtol(line.c_str() + blank + 1, nullptr, 10);
    }
    if (!exchange->headersDone) exchange->headers += line;
    if (!exchange->OnHeaderBytes(bytes)) return 0;
    if (line == "\r\n" || line == "\n") {
        exchange->headersDone = true;
        exchange->OnHeadersDone();
    }
    return bytes;
}

size_t Exchange::WriteCallback(char* data, size_t size, size_t count, void* self) {
    auto* exchange = static_cast<Exchange*>(self);
    const size_t bytes = size * count;
    return exchange->OnBody(data, bytes) ? bytes : 0;
}

int Exchange::PrereqCallback(void* self, char*, char*, int, int) {
    auto* exchange = static_cast<Exchange*>(self);
    exchange->requestStarted = true;
    exchange->OnRequestStarted();
    return CURL_PREREQFUNC_OK;
}

int Exchange::DebugCallback(CURL*, curl_infotype type, char*, size_t, void* self) {
    if (type == CURLINFO_HEADER_OUT) static_cast<Exchange*>(self)->OnRequestSent();
    return 0;
}

}  // namespace hm::http
