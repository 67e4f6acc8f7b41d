#include "support/http_test_server.h"

#include <openssl/bio.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace hm::test_support {

namespace {

constexpr size_t kMaxHead = 1 << 20;
constexpr uint32_t kClientTimeoutMs = 10000;  // a client that sends nothing cannot hold the server longer

// OpenSSL reads and writes through the platform's socket (no OS header here).
BIO_METHOD* SocketBioMethod() {
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "hm_tcp_socket");
        BIO_meth_set_write(m, [](BIO* bio, const char* data, int size) -> int {
            BIO_clear_retry_flags(bio);
            const int sent = static_cast<TcpSocket*>(BIO_get_data(bio))->SendBytes(data, static_cast<size_t>(size));
            return sent > 0 ? sent : -1;
        });
        BIO_meth_set_read(m, [](BIO* bio, char* data, int size) -> int {
            BIO_clear_retry_flags(bio);
            char buffer[16385];
            const int got = static_cast<TcpSocket*>(BIO_get_data(bio))->Receive(buffer, std::min(size, 16384) + 1);
            if (got > 0) std::copy(buffer, buffer + got, data);
            return got;  // 0: end (or the client's time-out), -1: error or shut down
        });
        BIO_meth_set_ctrl(m, [](BIO*, int command, long, void*) -> long { return command == BIO_CTRL_FLUSH ? 1 : 0; });
        BIO_meth_set_create(m, [](BIO* bio) {
            BIO_set_init(bio, 1);
            return 1;
        });
        return m;
    }();
    return method;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string Chunked(const std::string& body) {
    std::string coded;
    for (size_t at = 0; at < body.size(); at += 1000) {
        const std::string piece = body.substr(at, 1000);
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
        coded += size + piece + "\r\n";
    }
    return coded + "0\r\n\r\n";
}

}  // namespace

// One accepted connection, plain or TLS.
struct HttpTestServer::Connection {
    TcpSocket& socket;
    SSL* ssl = nullptr;
    ~Connection() {
        if (ssl) {
            SSL_shutdown(ssl);
            SSL_free(ssl);
        }
    }
    int Read(char* buffer, int size) {  // > 0 bytes, <= 0 end or error
        if (ssl) return SSL_read(ssl, buffer, size);
        return socket.Receive(buffer, size + 1);
    }
    bool Write(const std::string& bytes) {
        if (bytes.empty()) return true;
        if (ssl) return SSL_write(ssl, bytes.data(), static_cast<int>(bytes.size())) == static_cast<int>(bytes.size());
        return socket.SendBytes(bytes.data(), bytes.size()) == static_cast<int>(bytes.size());
    }
};

std::string HttpRequest::Header(const std::string& name) const {
    const std::string wanted = Lower(name) + ":";
    size_t at = 0;
    while (at < headers.size()) {
        size_t end = headers.find("\r\n", at);
        if (end == std::string::npos) end = headers.size();
        const std::string line = headers.substr(at, end - at);
        if (Lower(line.substr(0, wanted.size())) == wanted) {
            const size_t value = line.find_first_not_of(' ', wanted.size());
            return value == std::string::npos ? "" : line.substr(value);
        }
        at = end + 2;
    }
    return "";
}

HttpReply HttpReply::Text(const std::string& body, const std::string& status) {
    HttpReply reply;
    reply.status = status;
    reply.body = body;
    return reply;
}

HttpReply HttpReply::Redirect(const std::string& location, const std::string& status) {
    HttpReply reply;
    reply.status = status;
    reply.headers = "Location: " + location + "\r\n";
    return reply;
}

HttpTestServer::HttpTestServer(Handler handler, const std::string& certFile, const std::string& keyFile)
    : handler_(std::move(handler)) {
    if (!certFile.empty()) {
        SSL_CTX* context = SSL_CTX_new(TLS_server_method());
        if (!context || SSL_CTX_use_certificate_chain_file(context, certFile.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(context, keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
            SSL_CTX_free(context);
            return;  // not Ok()
        }
        sslContext_ = context;
        tls_ = true;
    }
    if (!listener_.EnsureTcp() || !listener_.Bind(LoopbackAddress(), 0) || !listener_.Listen()) return;
    port_ = listener_.LocalPort();
    if (port_ != 0) thread_ = std::thread([this] { Run(); });
}

HttpTestServer::~HttpTestServer() {
    Stop();
    SSL_CTX_free(static_cast<SSL_CTX*>(sslContext_));
}

std::string HttpTestServer::Url(const std::string& path) const {
    return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) +
           (path.empty() || path[0] != '/' ? "/" : "") + path;
}

void HttpTestServer::SetHandler(Handler handler) {
    std::lock_guard<std::mutex> guard(lock_);
    handler_ = std::move(handler);
}

std::vector<HttpRequest> HttpTestServer::Requests() const {
    std::lock_guard<std::mutex> guard(lock_);
    return requests_;
}

size_t HttpTestServer::RequestCount() const {
    std::lock_guard<std::mutex> guard(lock_);
    return requests_.size();
}

void HttpTestServer::Stop() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
        if (current_) current_->Shutdown();
    }
    wake_.notify_all();
    listener_.Shutdown();
    if (thread_.joinable()) thread_.join();
    listener_.Close();
}

bool HttpTestServer::Wait(int ms) {
    std::unique_lock<std::mutex> held(lock_);
    return !wake_.wait_for(held, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

void HttpTestServer::Run() {
    for (;;) {
        TcpSocket client;
        const bool accepted = listener_.Accept(client);
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (stopping_) return;
            current_ = accepted ? &client : nullptr;
        }
        if (!accepted) {
            if (!Wait(10)) return;
            continue;
        }
        Serve(client);
        {
            std::lock_guard<std::mutex> guard(lock_);
            current_ = nullptr;
        }
        client.Close();
    }
}

void HttpTestServer::Serve(TcpSocket& client) {
    client.SetReceiveTimeout(kClientTimeoutMs);
    client.SetSendTimeout(kClientTimeoutMs);
    Connection connection{client};
    if (tls_) {
        connection.ssl = SSL_new(static_cast<SSL_CTX*>(sslContext_));
        BIO* bio = connection.ssl ? BIO_new(SocketBioMethod()) : nullptr;
        if (!bio) return;
        BIO_set_data(bio, &client);
        SSL_set_bio(connection.ssl, bio, bio);
        if (SSL_accept(connection.ssl) != 1) return;  // the client refused the certificate, or left
    }

    // The request head, then a Content-Length body.
    std::string received;
    char buffer[16384];
    size_t headEnd = std::string::npos;
    while ((headEnd = received.find("\r\n\r\n")) == std::string::npos && received.size() < kMaxHead) {
        const int got = connection.Read(buffer, sizeof buffer - 1);
        if (got <= 0) return;
        received.append(buffer, static_cast<size_t>(got));
    }
    if (headEnd == std::string::npos) return;
    HttpRequest request;
    request.head = received.substr(0, headEnd + 4);
    const size_t lineEnd = request.head.find("\r\n");
    const std::string line = request.head.substr(0, lineEnd);
    const size_t space1 = line.find(' ');
    const size_t space2 = line.find(' ', space1 == std::string::npos ? line.size() : space1 + 1);
    request.method = line.substr(0, space1);
    if (space1 != std::string::npos) request.path = line.substr(space1 + 1, space2 - space1 - 1);
    request.headers = request.head.substr(lineEnd + 2, headEnd + 2 - (lineEnd + 2));
    request.body = received.substr(headEnd + 4);
    const size_t length = std::strtoul(request.Header("Content-Length").c_str(), nullptr, 10);
    while (request.body.size() < length && request.body.size() < kMaxHead) {
        const int got = connection.Read(buffer, sizeof buffer - 1);
        if (got <= 0) return;
        request.body.append(buffer, static_cast<size_t>(got));
    }

    Handler handler;
    {
        std::lock_guard<std::mutex> guard(lock_);
        requests_.push_back(request);
        handler = handler_;
    }
    const HttpReply reply = handler ? handler(request) : HttpReply::Text("Not found", "404 Not Found");

    if (reply.neverAnswer) {
        while (Wait(20) && !client.PeerClosed()) {
        }
        return;
    }
    if (reply.delayMs > 0 && !Wait(reply.delayMs)) return;
    std::string bytes;
    if (reply.raw) {
        bytes = *reply.raw;
    } else {
        bytes = "HTTP/1.1 " + reply.status + "\r\n" + reply.headers +
                (reply.chunked ? std::string("Transfer-Encoding: chunked\r\n")
                               : "Content-Length: " + std::to_string(reply.body.size()) + "\r\n") +
                "Connection: close\r\n\r\n" + (reply.chunked ? Chunked(reply.body) : reply.body);
    }
    if (reply.cutAfter >= 0 && static_cast<size_t>(reply.cutAfter) < bytes.size()) bytes.resize(reply.cutAfter);
    if (reply.pauseMs > 0 && reply.pauseAfter < bytes.size()) {
        if (!connection.Write(bytes.substr(0, reply.pauseAfter)) || !Wait(reply.pauseMs)) return;
        bytes.erase(0, reply.pauseAfter);
    }
    connection.Write(bytes);
}

}  // namespace hm::test_support
