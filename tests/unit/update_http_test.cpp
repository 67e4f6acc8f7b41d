// The two HTTP clients of the update module against the scriptable test server on 127.0.0.1:
// PageFetcher (redirects, refusals, failures and their event lines, the exact request, the stop event,
// HTTPS with the committed test certificate) and FileDownloader (progress texts and rate, non-200
// answers, redirects, cache bypass, size cap, proxy).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "eventlog/event_log.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "support/http_test_server.h"
#include "update/file_downloader.h"
#include "update/page_fetcher.h"
#include "update/stop_event.h"

namespace hm {
namespace {

using test_support::HttpReply;
using test_support::HttpRequest;
using test_support::HttpTestServer;
using Steady = std::chrono::steady_clock;

struct Events {
    ManualClock clock;
    EventLogList list{clock, nullptr, nullptr};
    std::vector<std::string> Texts() const {
        std::vector<std::string> lines = list.Lines();
        for (std::string& line : lines) line.erase(0, EventLogList::kStampLength);
        return lines;
    }
};

std::string TlsFile(const std::string& name) {
    const char* source = std::getenv("HM_SOURCE_DIR");
    return std::string(source ? source : ".") + "/tests/data/tls/" + name;
}

long long MsSince(Steady::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - start).count();
}

const std::string kWarning = "Warning: Version check failed.";

TEST(PageFetcher, AnswersRedirectsAndRefusalsGiveTheirResultBodyAndEvents) {
    // Headers of a plain answer from the test server: status line, Content-Length (5 digits here),
    // Connection, blank line; the biggest body that fits the 64 KB limit together with them.
    const size_t headerBytes = std::string("HTTP/1.1 200 OK\r\nContent-Length: 65474\r\nConnection: close\r\n\r\n").size();
    const size_t fitting = PageFetcher::kMaxDocumentBytes - headerBytes;
    const std::string chunkedText(2500, 'c');
    struct Case {
        const char* name;
        std::function<HttpReply(const HttpRequest&, const HttpTestServer&)> handler;
        std::string path;             // fetched at the server; "" = the literal url below
        std::string url;
        int result;
        std::string body;
        std::vector<std::string> events;  // "{url}" stands for the fetched URL
        int requests;                 // requests the server saw
    };
    const std::vector<Case> cases = {
        {"302 followed to a 200 document",
         [](const HttpRequest& r, const HttpTestServer& s) {
             return r.path == "/start" ? HttpReply::Redirect(s.Url("/doc")) : HttpReply::Text("3.0.84");
         },
         "/start", "", 1, "3.0.84", {}, 2},
        {"relative Location", [](const HttpRequest& r, const HttpTestServer&) {
             return r.path == "/a" ? HttpReply::Redirect("/b") : HttpReply::Text("b");
         },
         "/a", "", 1, "b", {}, 2},
        {"redirect loop ends after four requests",
         [](const HttpRequest&, const HttpTestServer&) { return HttpReply::Redirect("/loop"); }, "/loop", "", 0, "",
         {kWarning}, 4},
        {"301 is not followed", [](const HttpRequest&, const HttpTestServer&) {
             return HttpReply::Redirect("/x", "301 Moved Permanently");
         },
         "/moved", "", 0, "", {kWarning}, 1},
        {"404", [](const HttpRequest&, const HttpTestServer&) { return HttpReply::Text("gone", "404 Not Found"); },
         "/missing", "", 0, "", {kWarning}, 1},
        {"cut off inside the headers", [](const HttpRequest&, const HttpTestServer&) {
             HttpReply reply = HttpReply::Text("3.0.84");
             reply.cutAfter = 30;
             return reply;
         },
         "/cut", "", 0, "", {kWarning}, 1},
        {"cut off inside the body", [](const HttpRequest&, const HttpTestServer&) {
             HttpReply reply = HttpReply::Text(std::string(1000, 'x'));
             reply.cutAfter = 500;
             return reply;
         },
         "/cut", "", 0, "", {kWarning}, 1},
        {"empty 200 document", [](const HttpRequest&, const HttpTestServer&) { return HttpReply::Text(""); }, "/empty",
         "", 0, "", {}, 1},
        {"chunked document", [&](const HttpRequest&, const HttpTestServer&) {
             HttpReply reply = HttpReply::Text(chunkedText);
             reply.chunked = true;
             return reply;
         },
         "/chunked", "", 1, chunkedText, {}, 1},
        {"document at the limit", [&](const HttpRequest&, const HttpTestServer&) {
             return HttpReply::Text(std::string(fitting, 'f'));
         },
         "/fits", "", 1, std::string(fitting, 'f'), {}, 1},
        {"one byte over the limit", [&](const HttpRequest&, const HttpTestServer&) {
             return HttpReply::Text(std::string(fitting + 1, 'f'));
         },
         "/over", "", 0, "", {"Error: {url} is larger than 64 KB and was not used.", kWarning}, 1},
        {"70000-byte document", [](const HttpRequest&, const HttpTestServer&) {
             return HttpReply::Text(std::string(70000, 'x'));
         },
         "/big", "", 0, "", {"Error: {url} is larger than 64 KB and was not used.", kWarning}, 1},
        {"no status line", [](const HttpRequest&, const HttpTestServer&) {
             HttpReply reply;
             reply.raw = "hello %s %n\r\n\r\nbody";
             return reply;
         },
         "/garbage", "", 0, "", {"Error: failed to receive file", kWarning}, 1},
        {"ftp", nullptr, "", "ftp://127.0.0.1/version.txt", 0, "", {"Error: Only HTTP downloads supported", kWarning},
         0},
        {"garbage URL", nullptr, "", "not a url %s", 0, "", {"Error: Failed to parse URL not a url %s", kWarning}, 0},
        {"unknown host", nullptr, "", "http://no-such-host.invalid/v.txt", 0, "",
         {"Error: Can't resolve address no-such-host.invalid", kWarning}, 0},
        {"closed port", nullptr, "", "http://127.0.0.1:" + std::to_string(FindFreeTcpPort()) + "/v.txt", 0, "",
         {"Error: Can't connect to 127.0.0.1", kWarning}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HttpTestServer server;
        ASSERT_TRUE(server.Ok());
        if (c.handler) {
            server.SetHandler([&server, &c](const HttpRequest& r) { return c.handler(r, server); });
        }
        const std::string url = c.path.empty() ? c.url : server.Url(c.path);
        Events events;
        StopEvent stop;
        PageFetcher fetcher(&events.list, &stop);
        std::string body = "stale";
        EXPECT_EQ(fetcher.Fetch(url, body), c.result);
        EXPECT_EQ(body, c.body);
        std::vector<std::string> expected = c.events;
        for (std::string& line : expected) {
            const size_t at = line.find("{url}");
            if (at != std::string::npos) line.replace(at, 5, url);
        }
        EXPECT_EQ(events.Texts(), expected);
        EXPECT_EQ(server.RequestCount(), static_cast<size_t>(c.requests));
    }
}

TEST(PageFetcher, SendsTheRequestLineAgentAndHostOfTheOriginalProgram) {
    HttpTestServer server([](const HttpRequest&) { return HttpReply::Text("3.0.84"); });
    ASSERT_TRUE(server.Ok());
    PageFetcher fetcher(nullptr, nullptr);
    std::string body;
    ASSERT_EQ(fetcher.Fetch(server.Url("/haldmoor3/version.txt?os=linux"), body), 1);
    EXPECT_EQ(fetcher.lastStatus, 200);
    const std::vector<HttpRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    // The headers of the original request and no others; curl always writes Host right after the
    // request line, which HTTP does not mind.
    EXPECT_EQ(requests[0].head, "GET /haldmoor3/version.txt?os=linux HTTP/1.1\r\n"
                                "Host: 127.0.0.1:" + std::to_string(server.Port()) + "\r\n"
                                "Accept: */*\r\n"
                                "User-Agent: Haldmoor3/3.0 (Windows; U; 32bit)\r\n\r\n");
}

TEST(PageFetcher, StopEventEndsAFetchInProgressAndPreventsANewOne) {
    HttpTestServer server([](const HttpRequest&) {
        HttpReply reply;
        reply.neverAnswer = true;
        return reply;
    });
    ASSERT_TRUE(server.Ok());
    Events events;
    StopEvent stop;
    PageFetcher fetcher(&events.list, &stop);
    std::atomic<long long> setAt{0};
    const Steady::time_point start = Steady::now();
    std::thread stopper([&] {
        while (server.RequestCount() == 0 && MsSince(start) < 5000) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        setAt = MsSince(start);
        stop.Set();
    });
    std::string body;
    EXPECT_EQ(fetcher.Fetch(server.Url("/version.txt"), body), 0);
    const long long endedAt = MsSince(start);
    stopper.join();
    EXPECT_EQ(body, "");
    // The transfer waited for a silent server; the stop ends it long before the 2 s stall time-out.
    EXPECT_LT(endedAt - setAt, 1000);
    EXPECT_EQ(events.Texts(), std::vector<std::string>{kWarning});

    // Already set: no request at all.
    EXPECT_EQ(fetcher.Fetch(server.Url("/version.txt"), body), 0);
    EXPECT_EQ(server.RequestCount(), 1u);
}

TEST(PageFetcher, StalledServerFailsAfterTheTimeOuts) {
    HttpTestServer server([](const HttpRequest&) {
        HttpReply reply;
        reply.neverAnswer = true;
        return reply;
    });
    ASSERT_TRUE(server.Ok());
    Events events;
    PageFetcher fetcher(&events.list, nullptr);
    std::string body;
    EXPECT_EQ(fetcher.Fetch(server.Url("/version.txt"), body), 0);
    EXPECT_EQ(body, "");
    EXPECT_EQ(events.Texts(), (std::vector<std::string>{"Error: failed to receive file", kWarning}));
}

TEST(PageFetcher, HttpsNeedsTheServersCertificateToBeTrusted) {
    HttpTestServer server([](const HttpRequest&) { return HttpReply::Text("3.0.84"); }, TlsFile("cert.pem"),
                          TlsFile("key.pem"));
    ASSERT_TRUE(server.Ok());
    ASSERT_EQ(server.Url("/v.txt").rfind("https://", 0), 0u);

    Events trusted;
    PageFetcher fetcher(&trusted.list, nullptr);
    fetcher.caFile = TlsFile("cert.pem");
    std::string body;
    EXPECT_EQ(fetcher.Fetch(server.Url("/v.txt"), body), 1);
    EXPECT_EQ(body, "3.0.84");
    EXPECT_TRUE(trusted.Texts().empty());
    ASSERT_EQ(server.RequestCount(), 1u);
    EXPECT_EQ(server.Requests()[0].Header("Host"), "127.0.0.1:" + std::to_string(server.Port()));

    Events untrusted;
    PageFetcher plain(&untrusted.list, nullptr);
    EXPECT_EQ(plain.Fetch(server.Url("/v.txt"), body), 0);
    EXPECT_EQ(body, "");
    const std::vector<std::string> lines = untrusted.Texts();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Error: Can't connect to 127.0.0.1");
    EXPECT_EQ(lines[1].rfind("Error: ", 0), 0u);
    EXPECT_GT(lines[1].size(), 7u);
    EXPECT_EQ(lines[2], kWarning);
    EXPECT_EQ(server.RequestCount(), 1u);
}

// The texts of the status window, in order.
struct StatusTexts {
    std::vector<std::string> texts;
    std::function<void(const std::string&)> onRead;  // called after each "Read ..." text
    std::function<void(const std::string&)> Window() {
        return [this](const std::string& text) {
            texts.push_back(text);
            if (onRead && text.rfind("Read ", 0) == 0) onRead(text);
        };
    }
    std::string LastRead() const {
        for (auto it = texts.rbegin(); it != texts.rend(); ++it) {
            if (it->rfind("Read ", 0) == 0) return *it;
        }
        return "";
    }
};

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
    for (const std::string& t : texts) {
        if (t == text) return true;
    }
    return false;
}

TEST(FileDownloader, TenKilobytesWithinTheFirstSecondReportBytesWithoutRate) {
    const std::string file(10240, 'p');
    HttpTestServer server([&](const HttpRequest&) { return HttpReply::Text(file); });
    ASSERT_TRUE(server.Ok());
    ManualClock clock;
    FileDownloader downloader(nullptr, clock);
    StatusTexts status;
    downloader.statusWindow = status.Window();
    std::string data;
    EXPECT_EQ(downloader.Download(server.Url("/haldmoor3.bin"), data), 1);
    EXPECT_EQ(data, file);
    EXPECT_EQ(status.LastRead(), "Read 10240 bytes");
    for (const std::string& text : status.texts) EXPECT_EQ(text.find("Kb/s"), std::string::npos) << text;
    EXPECT_EQ(downloader.lastRate, 0.0);
    for (const char* stage : {"Sending request...", "Request sent", "Response received", "Request complete"}) {
        EXPECT_TRUE(Contains(status.texts, stage)) << stage;
    }
    ASSERT_FALSE(status.texts.empty());
    EXPECT_EQ(status.texts.back(), "");
    EXPECT_EQ(downloader.statusText, "");
    EXPECT_EQ(downloader.lastStatusCode, 200);
    EXPECT_EQ(downloader.lastHeaders.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    ASSERT_EQ(server.RequestCount(), 1u);
    EXPECT_EQ(server.Requests()[0].Header("User-Agent"), "Haldmoor3");
}

TEST(FileDownloader, BlocksAfterTheFirstSecondReportTheRate) {
    const std::string file(10240, 'r');
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 10240\r\nConnection: close\r\n\r\n";
    HttpTestServer server([&](const HttpRequest&) {
        HttpReply reply;
        reply.raw = head + file;
        reply.pauseAfter = head.size() + 4096;  // two parts, 300 ms apart
        reply.pauseMs = 300;
        return reply;
    });
    ASSERT_TRUE(server.Ok());
    ManualClock clock;
    FileDownloader downloader(nullptr, clock);
    StatusTexts status;
    bool advanced = false;
    status.onRead = [&](const std::string&) {
        if (!advanced) clock.Advance(2000);  // two seconds pass after the first block
        advanced = true;
    };
    downloader.statusWindow = status.Window();
    std::string data;
    EXPECT_EQ(downloader.Download(server.Url("/haldmoor3.bin"), data), 1);
    EXPECT_EQ(data, file);
    ASSERT_GE(status.texts.size(), 2u);
    EXPECT_EQ(status.LastRead(), "Read 10240 bytes (5.0 Kb/s)");  // 10240 bytes / 2 s / 1024
    EXPECT_DOUBLE_EQ(downloader.lastRate, 5.0);
}

TEST(FileDownloader, NotFoundRedirectCacheBypassSizeCapProxyAndStop) {
    const std::string file = "new program file";
    HttpTestServer server([&](const HttpRequest& r) {
        if (r.path == "/old.bin") return HttpReply::Redirect("/new.bin");
        if (r.path == "/new.bin" || r.path == "http://update.example.invalid/file.bin") return HttpReply::Text(file);
        return HttpReply::Text("no such file", "404 Not Found");
    });
    ASSERT_TRUE(server.Ok());
    ManualClock clock;
    std::string data = "stale";

    {  // 404: the URL cannot be opened, so 1 with empty data
        FileDownloader downloader(nullptr, clock);
        EXPECT_EQ(downloader.Download(server.Url("/missing.bin"), data), 1);
        EXPECT_EQ(data, "");
        EXPECT_EQ(downloader.lastStatusCode, 404);
        EXPECT_EQ(downloader.statusText, "");
    }
    {  // a redirect is followed
        FileDownloader downloader(nullptr, clock);
        const size_t before = server.RequestCount();
        EXPECT_EQ(downloader.Download(server.Url("/old.bin"), data), 1);
        EXPECT_EQ(data, file);
        EXPECT_EQ(server.RequestCount(), before + 2);
        EXPECT_EQ(downloader.lastStatusCode, 200);
    }
    {  // reload bypasses caches; without it no such headers are sent
        FileDownloader downloader(nullptr, clock);
        ASSERT_EQ(downloader.Download(server.Url("/new.bin"), data, "Haldmoor3"), 1);
        HttpRequest request = server.Requests().back();
        EXPECT_EQ(request.Header("Cache-Control"), "");
        EXPECT_EQ(request.Header("Pragma"), "");
        downloader.reload = true;
        ASSERT_EQ(downloader.Download(server.Url("/new.bin"), data, "Haldmoor3"), 1);
        request = server.Requests().back();
        EXPECT_EQ(request.Header("Cache-Control"), "no-cache");
        EXPECT_EQ(request.Header("Pragma"), "no-cache");
    }
    {  // beyond the size cap: 0 and nothing kept
        Events events;
        FileDownloader downloader(nullptr, clock);
        downloader.events = &events.list;
        downloader.maxBytes = 5;
        EXPECT_EQ(downloader.Download(server.Url("/new.bin"), data), 0);
        EXPECT_EQ(data, "");
        EXPECT_EQ(events.Texts(),
                  std::vector<std::string>{"Error: " + server.Url("/new.bin") + " is larger than 5 bytes and was not used."});
    }
    {  // through a proxy: the absolute URL goes to the proxy
        FileDownloader downloader(nullptr, clock);
        downloader.proxy = {"127.0.0.1", server.Port(), true};
        EXPECT_EQ(downloader.Download("http://update.example.invalid/file.bin", data), 1);
        EXPECT_EQ(data, file);
        EXPECT_EQ(server.Requests().back().path, "http://update.example.invalid/file.bin");
    }
    {  // unreachable: cannot be opened, with the reason as an event line
        Events events;
        FileDownloader downloader(nullptr, clock);
        downloader.events = &events.list;
        EXPECT_EQ(downloader.Download("http://127.0.0.1:" + std::to_string(FindFreeTcpPort()) + "/x", data), 1);
        EXPECT_EQ(data, "");
        EXPECT_EQ(events.Texts(), std::vector<std::string>{"Error: Can't connect to 127.0.0.1"});
    }
    {  // stopped before it starts: 0, no request
        StopEvent stop;
        stop.Set();
        FileDownloader downloader(&stop, clock);
        const size_t before = server.RequestCount();
        EXPECT_EQ(downloader.Download(server.Url("/new.bin"), data), 0);
        EXPECT_EQ(data, "");
        EXPECT_EQ(server.RequestCount(), before);
    }
}

}  // namespace
}  // namespace hm
