#include "supervision/remote_console_client.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "anticheat/nickname_rules.h"
#include "eventlog/event_log.h"
#include "players/player_info_store.h"

namespace hm {

namespace {

// On a manual clock the worker's pauses are cut into slices so that the stop flag ends them within
// one slice; on the real clock they block until their end or an interrupt.
constexpr uint32_t kPauseSliceMs = 50;

// One generator for every console of the process, seeded from the time on first use.
std::mutex& RandomLock() {
    static std::mutex lock;
    return lock;
}

uint32_t DrawRandom(uint32_t modulo) {
    std::lock_guard<std::mutex> guard(RandomLock());
    static std::mt19937 generator(static_cast<uint32_t>(
        std::chrono::system_clock::now().time_since_epoch().count()));
    return static_cast<uint32_t>(generator() % modulo);
}

// The reply to an operator console command as lines for people: line breaks kept, the game's colour
// codes (0x01 and three colour bytes) and other control bytes dropped, empty lines left out.
std::string ReplyText(const std::string& raw) {
    std::string text, line;
    auto endLine = [&] {
        if (!line.empty()) text += line + "\n";
        line.clear();
    };
    for (size_t i = 0; i < raw.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(raw[i]);
        if (c == '\r' || c == '\n' || c == '\0') {
            endLine();
        } else if (c == 0x01) {
            i += 3;
        } else if (c >= 0x20 && c != 0x7F) {
            line += static_cast<char>(c);
        }
    }
    endLine();
    return text;
}

// The numbers of kept console lines, shared by every connection of the process, so that a reader that
// meets a new connection of the same server never takes the new lines for ones it has seen.
std::atomic<uint64_t> g_consoleLineNumber{0};

std::string Formatted(const char* format, long long value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

}  // namespace

RemoteConsoleClient::RemoteConsoleClient(EventLogList* events, const ConsoleSettings& settings,
                                         NicknameRules& rules, PlayerInfoStore& players,
                                         JotwellBinding* jotwell, uint32_t processId, uint16_t serverPort,
                                         Clock& clock, uint32_t consoleTimeoutMs)
    : initialTimeoutMs_(consoleTimeoutMs != 0 ? consoleTimeoutMs : kInitialConsoleTimeout),
      loggedInTimeoutMs_(consoleTimeoutMs != 0 ? consoleTimeoutMs : kLoggedInConsoleTimeout),
      state_(settings, serverPort, clock.TickCount()),
      rules_(rules),
      players_(players),
      clock_(clock),
      processId_(processId),
      events_(events),
      log_(state_.settings, clock, jotwell),
      parser_(state_, *this, clock) {
    // Set before the worker starts, so the supervisor never sees another value before the login.
    state_.consoleTimeout = initialTimeoutMs_;
    threadWanted_ = true;
    thread_ = std::thread([this] { Run(); });
}

RemoteConsoleClient::~RemoteConsoleClient() {
    Logout();
    socket_.Close();
}

// ---------------------------------------------------------------------------------------------------
// Figures

ConsoleFigures RemoteConsoleClient::Figures() const {
    ConsoleFigures f;
    f.listedPlayers = state_.PlayerArraySize();
    f.hasPlayers = state_.hasPlayers.load() != 0;
    f.playerCount = state_.playerCount.load();
    f.emptyListTicks = state_.emptyListTicks.load();
    f.lastReportedCount = state_.lastReportedCount.load();
    f.lastReceiveTick = state_.lastReceiveTick.load();
    f.consoleTimeout = state_.consoleTimeout.load();
    f.lastPlayerRowTick = state_.lastPlayerRowTick.load();
    f.quitByAdmin = state_.quitByAdmin.load() != 0;
    f.dataCorruption = state_.dataCorruption.load() != 0;
    f.autoRepeat = state_.settings.autoRepeat != 0;
    f.autoRepeatMinutes = state_.settings.autoRepeatMinutes;
    return f;
}

void RemoteConsoleClient::SetPlayerCount(int32_t n) {
    state_.playerCount = n;
    state_.hasPlayers = n != 0 ? 1 : 0;
}

void RemoteConsoleClient::SetEmptyListTicks(uint32_t ticks) {
    std::lock_guard<std::mutex> guard(state_.lock);
    state_.emptyListTicks = ticks;
}

void RemoteConsoleClient::SetLastReportedCount(int32_t count) { state_.lastReportedCount = count; }

uint32_t RemoteConsoleClient::NextAutoCommand() const {
    std::lock_guard<std::mutex> guard(autoLock_);
    return state_.settings.nextAutoCommand;
}

// ---------------------------------------------------------------------------------------------------
// Commands: each goes to the outbox; the worker sends it and keeps the pause after it.

void RemoteConsoleClient::Post(const std::string& line, uint32_t pauseAfterMs) {
    if (!threadWanted_ || leaving_) return;
    {
        std::lock_guard<std::mutex> guard(outLock_);
        if (line.empty() && !outbox_.empty() && outbox_.back().line.empty()) {
            // Two pauses in a row keep the longer one.
            outbox_.back().pauseAfterMs = std::max(outbox_.back().pauseAfterMs, pauseAfterMs);
            return;
        }
        if (line == "$players\r\n") {
            // The list sent for the waiting request answers a new one too; a burst of joins therefore
            // queues one request, not hundreds.
            for (const Outgoing& item : outbox_)
                if (item.line == line) return;
        }
        outbox_.push_back(Outgoing{line, pauseAfterMs, false});
    }
    socket_.Interrupt();
}

size_t RemoteConsoleClient::PendingSends() const {
    std::lock_guard<std::mutex> guard(outLock_);
    size_t lines = 0;
    for (const Outgoing& item : outbox_) lines += item.line.empty() ? 0 : 1;
    return lines;
}

void RemoteConsoleClient::HoldSends(uint32_t ms) { Post(std::string(), ms); }

void RemoteConsoleClient::SendCommand(const std::string& line) { Post(line, kCommandPauseMs); }

int RemoteConsoleClient::RequestPlayers() {
    state_.listRequests += 1;
    if (!threadWanted_) return 0;
    Post("$players\r\n", kCommandPauseMs);
    return 1;
}

void RemoteConsoleClient::RequestPlayerInfo(int number) {
    if (state_.playerCount.load() >= 6) return;
    Post(Formatted("$playerinfo %lld\r\n", number), kCommandPauseMs);
}

void RemoteConsoleClient::SetRespawnTime(uint32_t seconds) {
    if (state_.currentRespawnTime.exchange(seconds) == seconds) return;
    Post(Formatted("$SetRespawnTime %lld\r\n", seconds), kCommandPauseMs);
}

void RemoteConsoleClient::SetMaxPlayers(uint32_t n) {
    Post(Formatted("$setmaxplayers %lld\r\n", n), kCommandPauseMs);
}

void RemoteConsoleClient::Say(const std::string& text) {
    if (text.empty()) return;
    Post("say " + text + "\r\n", kCommandPauseMs);
}

void RemoteConsoleClient::Kick(int number, const std::optional<std::string>& message) {
    if (message) {
        Say(*message);
        Post(std::string(), kKickPauses * 500);
    }
    Post(Formatted("$kick %lld\r\n", number), kCommandPauseMs);
}

void RemoteConsoleClient::Ban(int number, const std::optional<std::string>& message) {
    if (message) {
        Say(*message);
        Post(std::string(), kBanPauses * 500);
    }
    Post(Formatted("$Ban %lld\r\n", number), kCommandPauseMs);
}

std::vector<ConsolePlayer> RemoteConsoleClient::Players() const {
    const Tick now = clock_.TickCount();
    std::vector<ConsolePlayer> list;
    for (const PlayerSlot& slot : state_.PlayersSnapshot())
        list.push_back(ConsolePlayer{slot.number, slot.name, Elapsed(now, slot.joinTick)});
    return list;
}

bool RemoteConsoleClient::SendConsoleCommand(const std::string& line, ConsoleReply reply) {
    if (!reply || !threadWanted_ || leaving_ || !connected_) return false;
    {
        std::lock_guard<std::mutex> guard(replyLock_);
        if (reply_) return false;
        reply_ = PendingReply{std::move(reply), std::string(), clock_.TickCount(), false, 0};
    }
    {
        // Not through Post: a "$players" typed by the operator must go out as its own line.
        std::lock_guard<std::mutex> guard(outLock_);
        outbox_.push_back(Outgoing{line + "\r\n", kCommandPauseMs, false, true});
    }
    socket_.Interrupt();
    return true;
}

void RemoteConsoleClient::NoteReplyData(const char* data, size_t size) {
    constexpr size_t kReplyMax = 65536;   // a chatty server cannot grow the answer without bound
    std::lock_guard<std::mutex> guard(replyLock_);
    if (!reply_ || !reply_->sent) return;
    reply_->raw.append(data, std::min(size, kReplyMax - std::min(kReplyMax, reply_->raw.size())));
    reply_->lastTick = clock_.TickCount();
}

std::optional<uint32_t> RemoteConsoleClient::ReplyDueIn() {
    std::lock_guard<std::mutex> guard(replyLock_);
    if (!reply_) return std::nullopt;
    const Tick now = clock_.TickCount();
    uint32_t left = Elapsed(reply_->handedTick + kReplyLimitMs, now);
    if (reply_->sent) left = std::min(left, Elapsed(reply_->lastTick + kReplySilenceMs, now));
    return left;
}

void RemoteConsoleClient::FinishReply(bool now) {
    if (!now) {
        const std::optional<uint32_t> left = ReplyDueIn();
        if (!left || *left > 0) return;
    }
    std::optional<PendingReply> done;
    {
        std::lock_guard<std::mutex> guard(replyLock_);
        done.swap(reply_);
    }
    if (done) done->reply(ReplyText(done->raw));
}

void RemoteConsoleClient::SendAutoCommands() {
    std::vector<std::string> lines;
    {
        // The supervisor (user-interface thread) and a login or level start (worker) may both send the
        // commands; the index moves under this lock so both never pick the same "next" command.
        std::lock_guard<std::mutex> guard(autoLock_);
        ConsoleSettings& s = state_.settings;
        const uint32_t n = static_cast<uint32_t>(s.autoCommands.size());
        if (n == 0) return;
        if (s.nextAutoCommand >= n) s.nextAutoCommand = 0;
        if (s.autoOnlyOne && s.autoRandom && n > 1) {
            uint32_t pick = DrawRandom(n);
            if (n > 2) {
                while (pick == s.nextAutoCommand) pick = DrawRandom(n);
            }
            s.nextAutoCommand = pick;
        }
        for (uint32_t i = 0; i < n; ++i) {
            if (s.autoOnlyOne && i != s.nextAutoCommand) continue;
            lines.push_back(s.autoCommands[i].substr(0, kAutoCommandMax) + "\r\n");
            if (s.autoOnlyOne) {
                s.nextAutoCommand = i + 1;
                break;
            }
        }
    }
    // The automatic commands go out back to back, without the pause of the other commands.
    for (const std::string& line : lines) Post(line, 0);
}

void RemoteConsoleClient::OnLoggedIn() {
    {
        std::lock_guard<std::mutex> guard(state_.lock);
        state_.consoleTimeout = loggedInTimeoutMs_;
        state_.emptyListTicks = 0;
        state_.listRequests = 0;
    }
    RequestPlayers();
    const size_t listed = state_.PlayerArraySize();
    if (listed != 0) state_.playerCount = static_cast<int32_t>(listed);
    if (state_.playerCount.load() == 0) state_.hasPlayers = 0;
    SendAutoCommands();
}

void RemoteConsoleClient::OnLevelStart() {
    state_.emptyListTicks = 0;
    state_.listRequests = 0;
    Post("$rehash\r\n", kCommandPauseMs);
    SendAutoCommands();
    state_.listRequests = 0;
}

bool RemoteConsoleClient::BeginFarewell(bool quit) {
    std::lock_guard<std::mutex> life(lifeLock_);
    if (!threadWanted_ || leaving_) return false;
    if (quit) {
        std::lock_guard<std::mutex> guard(state_.lock);
        events_ = nullptr;
        state_.quitRequested = 1;
    } else {
        events_ = nullptr;
    }
    {
        std::lock_guard<std::mutex> guard(outLock_);
        // What is still queued goes out first, but its pauses end here (a kick after its message is
        // still attempted); the farewell lines keep theirs.
        for (Outgoing& item : outbox_) item.pauseAfterMs = 0;
        outbox_.push_back(Outgoing{quit ? "quit\r\n" : "logout\r\n\r\n", kCommandPauseMs, false});
        outbox_.push_back(Outgoing{"say bye\r\n", kCommandPauseMs, false});
        outbox_.push_back(Outgoing{std::string(), 0, true});
        cutPause_ = true;
        leaving_ = true;
    }
    socket_.Interrupt();
    return true;
}

void RemoteConsoleClient::BeginClose(bool quit) { BeginFarewell(quit); }

void RemoteConsoleClient::FinishClose() {
    std::lock_guard<std::mutex> life(lifeLock_);
    if (!threadWanted_) return;
    {
        // The farewell takes the worker a few hundred ms; a worker that is still connecting or logging
        // in is woken by the closed socket instead. A real-time bound, not a pause of the protocol.
        std::unique_lock<std::mutex> lock(finishLock_);
        finishedSignal_.wait_for(lock, std::chrono::milliseconds(kFinishWaitMs), [this] { return finished_; });
    }
    {
        std::lock_guard<std::mutex> guard(state_.lock);
        stopRequested_ = 1;
    }
    socket_.Interrupt();   // a worker resting between connection attempts
    socket_.Close();
    if (thread_.joinable()) thread_.join();
    threadWanted_ = false;
    state_.listRequests = 0;
    {
        std::lock_guard<std::mutex> guard(outLock_);
        outbox_.clear();
    }
    FinishReply(true);
}

void RemoteConsoleClient::Logout() {
    BeginFarewell(false);
    FinishClose();
}

void RemoteConsoleClient::Quit() {
    BeginFarewell(true);
    FinishClose();
}

// ---------------------------------------------------------------------------------------------------
// ConsoleActions

void RemoteConsoleClient::Pause(uint32_t ms) { Post(std::string(), ms); }

void RemoteConsoleClient::Rest(uint32_t ms) {
    const Tick start = clock_.TickCount();
    while (!StopWanted()) {
        const Tick passed = Elapsed(clock_.TickCount(), start);
        if (passed >= ms) break;
        if (!clock_.Blocks()) {
            clock_.Sleep(std::min<uint32_t>(ms - passed, kPauseSliceMs));
        } else if (!socket_.WaitInterrupt(ms - passed)) {
            // Timed out: the tick count may lag the poll's time-out by a millisecond.
            const Tick now = Elapsed(clock_.TickCount(), start);
            if (now < ms) clock_.Sleep(ms - now);
        }
    }
}

PlayerVerdict RemoteConsoleClient::NicknameVerdict(const std::string& name) {
    switch (rules_.Verdict(name)) {
        case NicknameVerdictResult::Invalid: return PlayerVerdict::Invalid;
        case NicknameVerdictResult::Hacked: return PlayerVerdict::Hacked;
        case NicknameVerdictResult::TooShort: return PlayerVerdict::TooShort;
        case NicknameVerdictResult::Disallowed: return PlayerVerdict::Disallowed;
        case NicknameVerdictResult::None: break;
    }
    return PlayerVerdict::None;
}

bool RemoteConsoleClient::UpdatePlayer(const std::string& name, const std::string& address) {
    return players_.Update(name, address) == 1;
}

void RemoteConsoleClient::SavePlayers() { players_.Save(); }

void RemoteConsoleClient::AddEvent(const std::string& text) {
    EventLogList* events = events_.load();
    if (events) events->AddEvent("%s", text.c_str());
}

void RemoteConsoleClient::WriteConsoleLog(std::string_view line) {
    log_.Write(line);
    // The window shows what the log holds, also while the log is switched off.
    if (!state_.settings.logAllOutput && ConsoleLog::IsFilteredOut(line)) return;
    std::lock_guard<std::mutex> guard(linesLock_);
    if (lines_.size() == kConsoleLinesKept) lines_.pop_front();
    lines_.emplace_back(++g_consoleLineNumber, std::string(line));
}

std::vector<std::string> RemoteConsoleClient::ConsoleLinesAfter(uint64_t sequence, uint64_t& last) const {
    std::vector<std::string> newer;
    std::lock_guard<std::mutex> guard(linesLock_);
    last = sequence;
    if (lines_.empty() || lines_.back().first <= sequence) return newer;
    last = lines_.back().first;
    // The numbers ascend: the first newer line is found by halving.
    auto from = std::upper_bound(lines_.begin(), lines_.end(), sequence,
                                 [](uint64_t n, const std::pair<uint64_t, std::string>& line) { return n < line.first; });
    newer.reserve(static_cast<size_t>(lines_.end() - from));
    for (; from != lines_.end(); ++from) newer.push_back(from->second);
    return newer;
}

// ---------------------------------------------------------------------------------------------------
// Worker thread

void RemoteConsoleClient::Run() {
    {
        std::lock_guard<std::mutex> guard(state_.lock);
        state_.quitRequested = 0;
        state_.quitByAdmin = 0;
        state_.dataCorruption = 0;
        state_.lastReceiveTick = clock_.TickCount();
    }
    std::vector<char> receive(kReceiveBufferBytes);
    while (!StopWanted() && !state_.quitByAdmin && !state_.dataCorruption) {
        if (!socket_.EnsureTcp()) {
            connected_ = 0;
            socket_.Close();
            Rest(kAddressRetryMs);
            continue;
        }
        for (uint32_t address : state_.settings.addresses) {
            if (connected_ || StopWanted()) break;
            if (socket_.Connect(address, state_.settings.port)) {
                connected_ = 1;
            } else {
                Rest(kAddressRetryMs);
            }
        }
        if (!StopWanted() && connected_) Session(receive.data());
        connected_ = 0;
        socket_.Close();
        for (uint32_t i = 0; i < kReconnectPauses && !StopWanted(); ++i) Rest(kAddressRetryMs);
    }
    FinishReply(true);
    std::lock_guard<std::mutex> guard(finishLock_);
    finished_ = true;
    finishedSignal_.notify_all();
}

void RemoteConsoleClient::Session(char* receive) {
    Rest(250);
    socket_.SetReceiveTimeout(kLoginTimeoutMs);
    socket_.SetSendTimeout(kSendTimeoutMs);
    const LoginResult login = Login(receive);
    if (login == LoginResult::Foreign) {
        if (!foreignReported_) {
            AddEvent("Server " + std::to_string(state_.serverPort) + ": remote console port " +
                     std::to_string(state_.settings.port) +
                     " answered without the game's greeting; password not sent.");
            foreignReported_ = true;
        }
        return;
    }
    foreignReported_ = false;
    if (login == LoginResult::Refused) {
        if (!refusedReported_) {
            AddEvent(Formatted("Server %lld: remote console refused the password.", state_.serverPort));
            refusedReported_ = true;
        }
        return;
    }
    if (login != LoginResult::LoggedIn) return;
    refusedReported_ = false;
    {
        // Commands that found no connection are not carried over into a new one.
        std::lock_guard<std::mutex> guard(outLock_);
        if (!leaving_) outbox_.clear();
    }
    log_.Open();
    socket_.SetReceiveTimeout(0);
    OnLoggedIn();
    ReceiveLoop(receive);
    socket_.Close();
    // The supervisor reads the array's size under the lock, so it is cleared under it too.
    state_.ClearPlayers();
    log_.Close();
}

bool IsConsoleGreeting(std::string_view greeting) {
    // A greeting may be preceded by stray line breaks; anything else before it is not the game.
    size_t at = 0;
    while (at < greeting.size() && (greeting[at] == '\r' || greeting[at] == '\n')) ++at;
    greeting.remove_prefix(at);
    if (greeting.substr(0, kGreetingTitle.size()) != kGreetingTitle) return false;
    const size_t prompt = greeting.find(kGreetingPrompt);
    return prompt != std::string_view::npos && prompt > 0 && (greeting[prompt - 1] == '\n' || greeting[prompt - 1] == '\r');
}

bool IsPasswordRefusal(std::string_view reply) {
    size_t at = 0;
    while (at < reply.size() && (reply[at] == '\r' || reply[at] == '\n' || reply[at] == '\0')) ++at;
    return reply.substr(at, kPasswordRefused.size()) == kPasswordRefused;
}

RemoteConsoleClient::LoginResult RemoteConsoleClient::Login(char* receive) {
    const int size = static_cast<int>(kReceiveBufferBytes - 1);
    // The greeting may come in pieces; it is complete once its password prompt is there. The password
    // goes only to a peer that greets like the game: whoever else listens on the port never learns it.
    std::string greeting;
    while (!StopWanted() && greeting.size() < kGreetingMax) {
        const int got = socket_.Receive(receive, size);
        if (got <= 0) break;
        greeting.append(receive, static_cast<size_t>(got));
        if (greeting.find(kGreetingPrompt) != std::string::npos) break;
    }
    if (StopWanted() || greeting.empty()) return LoginResult::NoAnswer;
    if (!IsConsoleGreeting(greeting)) return LoginResult::Foreign;
    {
        // The server answered: it is alive, whatever becomes of the login.
        std::lock_guard<std::mutex> guard(state_.lock);
        state_.lastReceiveTick = clock_.TickCount();
    }
    if (socket_.Send(state_.settings.password + "\r\n") <= 0) return LoginResult::NoAnswer;
    clock_.Sleep(kCommandPauseMs);
    // The reply ends with the first second of silence. The game turns a wrong password away with its
    // refusal and closes the connection.
    std::string reply;
    int got = 0;
    while (!StopWanted() && (got = socket_.Receive(receive, size)) > 0) {
        if (reply.size() < kGreetingMax) reply.append(receive, static_cast<size_t>(got));
        clock_.Sleep(10);
    }
    if (StopWanted()) return LoginResult::NoAnswer;
    if (IsPasswordRefusal(reply) || got < 0 || socket_.PeerClosed()) return LoginResult::Refused;
    return LoginResult::LoggedIn;
}

std::optional<uint32_t> RemoteConsoleClient::NextSendIn() {
    {
        std::lock_guard<std::mutex> guard(outLock_);
        if (outbox_.empty()) return std::nullopt;
    }
    if (cutPause_) return 0;
    return Elapsed(nextSendTick_, clock_.TickCount());
}

bool RemoteConsoleClient::SendDue() {
    if (cutPause_.exchange(false)) nextSendTick_ = clock_.TickCount();
    for (;;) {
        Outgoing item;
        {
            std::lock_guard<std::mutex> guard(outLock_);
            if (outbox_.empty() || Elapsed(nextSendTick_, clock_.TickCount()) > 0) return false;
            item = std::move(outbox_.front());
            outbox_.pop_front();
        }
        if (item.farewellEnd) return true;
        if (!item.line.empty()) socket_.Send(item.line);
        nextSendTick_ = clock_.TickCount() + item.pauseAfterMs;
        if (item.startsReply) {
            std::lock_guard<std::mutex> guard(replyLock_);
            if (reply_) {
                reply_->sent = true;
                reply_->lastTick = clock_.TickCount();
            }
        }
    }
}

int RemoteConsoleClient::WaitForWork(std::optional<uint32_t> timeoutMs) {
    if (!timeoutMs) return socket_.WaitReadable(0, true);
    if (*timeoutMs == 0) return 0;
    const Tick deadline = clock_.TickCount() + *timeoutMs;
    const int woke = socket_.WaitReadable(*timeoutMs, false);
    if (woke == 0) {
        const uint32_t short_ = Elapsed(deadline, clock_.TickCount());
        if (short_ > 0) clock_.Sleep(short_);
    }
    return woke;
}

void RemoteConsoleClient::ReceiveLoop(char* receive) {
    // The chunk being collected is receive[0, filled); the newest byte of the stream is held back
    // behind it at receive[filled] and joins the chunk when newer data arrives. A chunk is parsed after
    // a second of the server's silence when that held byte is a NUL (the game ends its output so), and
    // at once when it has grown to the chunk limit, so the buffer never overflows.
    size_t filled = 0;
    bool held = false;
    bool silenceJudged = true;   // the last silence has been looked at
    Tick lastData = clock_.TickCount();
    nextSendTick_ = lastData;
    const size_t room = kReceiveBufferBytes - 1;
    auto parse = [&] {
        const char heldByte = receive[filled];
        receive[filled] = '\0';
        parser_.Parse(receive, filled);
        receive[0] = heldByte;
        filled = 0;
    };
    // The output that arrived before the server ended the connection is parsed at once: its last
    // words ("Shutting down ...") must not wait for more data that never comes.
    auto lastChunk = [&] {
        if (held && receive[filled] != '\0') ++filled;
        held = false;
        if (filled == 0) return;
        receive[filled] = '\0';
        parser_.Parse(receive, filled);
        filled = 0;
    };
    while (!stopRequested_) {
        if (SendDue()) break;   // the farewell has gone out
        std::optional<uint32_t> timeout = NextSendIn();
        if (held && !silenceJudged) {
            const uint32_t silenceLeft = Elapsed(lastData + kSilenceMs, clock_.TickCount());
            timeout = timeout ? std::min(*timeout, silenceLeft) : silenceLeft;
        }
        if (const std::optional<uint32_t> replyLeft = ReplyDueIn())
            timeout = timeout ? std::min(*timeout, *replyLeft) : *replyLeft;
        const int woke = WaitForWork(timeout);
        FinishReply(false);
        if (woke < 0) break;   // closed by the farewell's end or the owner
        if (woke == 1) {
            const size_t at = filled + (held ? 1 : 0);
            const int got = socket_.Receive(receive + at, static_cast<int>(room - at + 1));
            if (got < 0) break;
            if (got == 0) {
                lastChunk();
                break;
            }
            NoteReplyData(receive + at, static_cast<size_t>(got));
            filled = at + static_cast<size_t>(got) - 1;
            held = true;
            silenceJudged = false;
            lastData = clock_.TickCount();
            {
                std::lock_guard<std::mutex> guard(state_.lock);
                state_.lastReceiveTick = lastData;
            }
            if (filled >= kChunkLimit) parse();
            continue;
        }
        if (held && !silenceJudged && Elapsed(clock_.TickCount(), lastData) >= kSilenceMs) {
            silenceJudged = true;
            if (filled != 0 && receive[filled] == '\0') parse();
        }
    }
    FinishReply(true);   // the connection ended: the reply is what came until now
}

std::unique_ptr<RemoteConsole> MakeRemoteConsole(EventLogList* events, const ConsoleSettings& settings,
                                                 NicknameRules& rules, PlayerInfoStore& players,
                                                 JotwellBinding* jotwell, uint32_t processId,
                                                 uint16_t serverPort, Clock& clock, uint32_t consoleTimeoutMs) {
    return std::make_unique<RemoteConsoleClient>(events, settings, rules, players, jotwell, processId,
                                                 serverPort, clock, consoleTimeoutMs);
}

}  // namespace hm
