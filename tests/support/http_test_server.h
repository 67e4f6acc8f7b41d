// A small scriptable HTTP (and HTTPS) server on 127.0.0.1 for the tests of the update module and the
// end-to-end tests that let real processes fetch from it.
//
// One thread accepts connections (port chosen by the kernel) and serves them one after the other, one
// request per connection. A handler, replaceable at any time from any thread, scripts each answer:
// status, headers, body, chunked coding, delays, a cut-off answer, raw bytes, or no answer at all.
// Every request is recorded. Stop (and the destructor) returns promptly even while an answer is
// delayed or withheld: waits end on the stop flag and the sockets are shut down.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

namespace hm::test_support {

struct HttpRequest {
    std::string method;
    std::string path;      // the request target as sent
    std::string headers;   // the raw header lines after the request line ("Name: value\r\n" ...)
    std::string head;      // the whole raw request head, request line and blank line included
    std::string body;      // a Content-Length body, if any
    // The value of the first header of that name (case-insensitive), "" when absent.
    std::string Header(const std::string& name) const;
};

struct HttpReply {
    std::string status = "200 OK";      // code and reason
    std::string headers;                // extra lines, each ending "\r\n"
    std::string body;
    bool chunked = false;               // send the body in chunked coding (else with Content-Length)
    int delayMs = 0;                    // wait before answering
    long cutAfter = -1;                 // >= 0: close after that many bytes of the raw answer
    size_t pauseAfter = 0;              // with pauseMs: send that many bytes, pause, send the rest
    int pauseMs = 0;
    std::optional<std::string> raw;     // send exactly these bytes instead (hostile answers)
    bool neverAnswer = false;           // read the request, then wait until the client leaves or Stop

    static HttpReply Text(const std::string& body, const std::string& status = "200 OK");
    static HttpReply Redirect(const std::string& location, const std::string& status = "302 Found");
};

class HttpTestServer {
public:
    using Handler = std::function<HttpReply(const HttpRequest&)>;

    // Listens at once. With a certificate and key file (PEM) it speaks HTTPS. Ok() tells if it runs.
    explicit HttpTestServer(Handler handler = {}, const std::string& certFile = "", const std::string& keyFile = "");
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    bool Ok() const { return port_ != 0; }
    uint16_t Port() const { return port_; }
    // "http://127.0.0.1:PORT/path" ("https://..." with TLS); path with or without its leading "/".
    std::string Url(const std::string& path) const;

    void SetHandler(Handler handler);       // any thread; the next request uses it
    std::vector<HttpRequest> Requests() const;
    size_t RequestCount() const;
    void Stop();                            // idempotent

private:
    struct Connection;
    void Run();
    void Serve(TcpSocket& client);
    bool Wait(int ms);                      // false when stopped meanwhile

    TcpSocket listener_;
    uint16_t port_ = 0;
    bool tls_ = false;
    void* sslContext_ = nullptr;            // SSL_CTX*, kept out of this header

    mutable std::mutex lock_;
    std::condition_variable wake_;
    bool stopping_ = false;
    TcpSocket* current_ = nullptr;          // the connection being served, shut down by Stop
    Handler handler_;
    std::vector<HttpRequest> requests_;
    std::thread thread_;
};

}  // namespace hm::test_support
