#include "console_server.h"

#include <chrono>

#include "protocol.h"
#include "platform/clock.h"

namespace hm::k3ded {

namespace {
void Nap(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
}
}  // namespace

ConsoleServer::~ConsoleServer() { Stop(); }

bool ConsoleServer::Start(uint32_t address, uint16_t port, const std::string& password) {
    auto listener = std::make_unique<TcpSocket>();
    if (!listener->EnsureTcp() || !listener->Bind(address, port) || !listener->Listen()) return false;
    password_ = password;
    listener_ = std::move(listener);
    acceptThread_ = std::thread([this] { AcceptLoop(); });
    return true;
}

void ConsoleServer::AcceptLoop() {
    while (!stop_) {
        if (hung_) {
            Nap(100);
            continue;
        }
        auto socket = std::make_unique<TcpSocket>();
        uint32_t address = 0;
        uint16_t port = 0;
        if (!listener_->Accept(*socket, &address, &port)) {
            if (!stop_) Nap(50);  // e.g. out of handles: do not spin
            continue;
        }
        auto connection = std::make_shared<Connection>();
        connection->socket = std::move(socket);
        connection->socket->SetSendTimeout(2000);
        connection->peer = AddressText(address) + ":" + std::to_string(port);
        // Stamped here, not when the main thread greets it: the login clock must never start at 0.
        connection->openedTick = RealClock().TickCount();
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (stop_) break;
            connection->id = nextId_++;
            connections_[connection->id] = connection;
            Connection* raw = connection.get();
            connection->reader = std::thread([this, raw] { ReadLoop(raw); });
        }
        ServerEvent event;
        event.kind = ServerEvent::Kind::ConsoleOpened;
        event.connection = connection->id;
        queue_.Push(std::move(event));
    }
}

void ConsoleServer::ReadLoop(Connection* connection) {
    std::string line;
    bool overlong = false;
    char buffer[4096];
    while (!stop_) {
        const int received = connection->socket->Receive(buffer, sizeof buffer);
        if (received <= 0) break;  // closed by the peer (0) or by us (-1)
        if (hung_) {
            // A hung server reads nothing more; the socket stays open until the process ends.
            while (hung_ && !stop_) Nap(100);
            break;
        }
        for (int i = 0; i < received; ++i) {
            const char c = buffer[i];
            if (c == '\n') {
                if (!line.empty() && line.back() == '\r') line.pop_back();
                ServerEvent event;
                event.connection = connection->id;
                event.kind = overlong ? ServerEvent::Kind::ConsoleLineTooLong : ServerEvent::Kind::ConsoleLine;
                if (!overlong) event.text = line;
                queue_.Push(std::move(event));
                line.clear();
                overlong = false;
            } else if (!overlong) {
                // One byte more than the limit for a CR that may still come before the LF.
                if (line.size() > kMaxConsoleLine) {
                    overlong = true;
                    line.clear();
                } else {
                    line += c;
                }
            }
        }
    }
    ServerEvent event;
    event.kind = ServerEvent::Kind::ConsoleClosed;
    event.connection = connection->id;
    queue_.Push(std::move(event));
}

std::shared_ptr<ConsoleServer::Connection> ConsoleServer::Find(int id) {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = connections_.find(id);
    return it == connections_.end() ? nullptr : it->second;
}

void ConsoleServer::SendBurst(Connection& connection, const std::string& payload, bool colourCode) {
    if (connection.closing) return;
    std::string burst;
    if (colourCode) burst.append(kColourCode, sizeof kColourCode);
    burst += payload;
    burst += '\0';
    if (connection.socket->SendBytes(burst.data(), burst.size()) != static_cast<int>(burst.size())) {
        // A console that takes nothing for two seconds is dropped rather than stalling the game.
        CloseConnection(connection.id);
    }
}

void ConsoleServer::OnOpened(int id) {
    auto connection = Find(id);
    if (!connection) return;
    size_t open = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (auto& [otherId, other] : connections_) open += other->closing ? 0 : 1;
    }
    if (open > kMaxConsoleClients) {
        SendBurst(*connection, "Too many remote console connections.\r\n", false);
        CloseConnection(id);
        return;
    }
    SendBurst(*connection, "Kelvane 3 Dedicated Server - remote console\r\nPassword:\r\n", false);
}

ConsoleServer::LineResult ConsoleServer::OnLine(int id, const std::string& line) {
    auto connection = Find(id);
    if (!connection || connection->closing) return LineResult::Ignored;
    if (!connection->loggedIn) {
        // An empty configured password never opens the console.
        if (!password_.empty() && line == password_) {
            connection->loggedIn = true;
            SendBurst(*connection, "Password accepted. Remote console ready.\r\n", false);
            return LineResult::LoginAccepted;
        }
        SendBurst(*connection, "Invalid password.\r\n", false);
        CloseConnection(id);
        return LineResult::LoginRefused;
    }
    if (line.empty()) return LineResult::Ignored;
    connection->released = true;
    return LineResult::Command;
}

void ConsoleServer::Broadcast(const std::vector<std::string>& lines) {
    const std::string text = JoinLines(lines);
    std::vector<std::shared_ptr<Connection>> targets;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (auto& [id, connection] : connections_)
            if (connection->loggedIn && !connection->closing) targets.push_back(connection);
    }
    for (auto& connection : targets) {
        if (!connection->released) {
            // Bounded: a console that never sends a command does not grow memory without end.
            if (connection->held.size() + text.size() <= 65536) connection->held += text;
            continue;
        }
        const std::string payload = connection->held + text;
        connection->held.clear();
        SendBurst(*connection, payload, connection->sentFirst);
        connection->sentFirst = true;
    }
}

void ConsoleServer::MarkReleased(int id) {
    auto connection = Find(id);
    if (connection && connection->loggedIn) connection->released = true;
}

void ConsoleServer::ExpireLogins(uint32_t nowTick) {
    std::vector<int> expired;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (auto& [id, connection] : connections_)
            if (!connection->loggedIn && !connection->closing && Elapsed(nowTick, connection->openedTick) > kLoginTimeoutMs)
                expired.push_back(id);
    }
    for (int id : expired) CloseConnection(id);
}

void ConsoleServer::CloseConnection(int id) {
    auto connection = Find(id);
    if (!connection || connection->closing) return;
    connection->closing = true;
    connection->socket->Close();  // wakes the reader, which then reports the close
}

void ConsoleServer::OnClosed(int id) {
    std::shared_ptr<Connection> connection;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = connections_.find(id);
        if (it == connections_.end()) return;
        connection = it->second;
        connections_.erase(it);
    }
    connection->socket->Close();
    if (connection->reader.joinable()) connection->reader.join();
}

std::string ConsoleServer::PeerText(int id) {
    auto connection = Find(id);
    return connection ? connection->peer : std::string();
}

bool ConsoleServer::IsLoggedIn(int id) {
    auto connection = Find(id);
    return connection && connection->loggedIn;
}

size_t ConsoleServer::LoggedInCount() {
    std::lock_guard<std::mutex> guard(lock_);
    size_t count = 0;
    for (auto& [id, connection] : connections_) count += connection->loggedIn && !connection->closing ? 1 : 0;
    return count;
}

void ConsoleServer::Stop() {
    if (stop_.exchange(true)) return;
    if (listener_) listener_->Close();
    if (acceptThread_.joinable()) acceptThread_.join();
    std::map<int, std::shared_ptr<Connection>> connections;
    {
        std::lock_guard<std::mutex> guard(lock_);
        connections.swap(connections_);
    }
    for (auto& [id, connection] : connections) {
        connection->socket->Close();
        if (connection->reader.joinable()) connection->reader.join();
    }
}

}  // namespace hm::k3ded
