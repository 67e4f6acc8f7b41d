// The remote console client: one TCP connection to one game server's console, with the worker thread
// that connects, logs in, collects the server's output, cuts it into chunks and hands each chunk to
// the console parser, and the commands the rest of the program sends to the server.
//
// A server's entry (CServerInfo) owns the client and creates and deletes it on the user-interface
// thread; the worker thread starts with the object and ends in Logout or Quit. Commands come from both
// threads, but neither waits: each command is put in the connection's outbox and the worker sends it,
// keeping the order and the pause after each line, so the user-interface thread never sleeps for a
// console and the parser's pauses never hold up the reading. The worker blocks in one wait for console
// data, a new command or the stop, with the next due moment (silence framing, queued send) as its
// time-out; an idle console costs nothing. The client never kills its thread: Logout and Quit hand the
// farewell to the worker, which sends it and ends; a worker that does not end in time is woken by
// closing the socket. The operator's console command is answered the same way: the worker collects
// what the console reads after the command and hands it to the caller's callback once the console
// has been quiet for a second (five seconds at most), so nobody waits for it. The lines the parser
// hands to the console log are also kept (the last kConsoleLinesKept) for the server window, which
// reads them from its own thread. Text from the network is only ever data, never a format string or
// a path. The password is never sent to a peer that does not greet like the game, and a connection
// the server ends is noticed at once and re-established.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/socket.h"
#include "servers/console_settings.h"
#include "servers/remote_console.h"
#include "supervision/console_log.h"
#include "supervision/console_parser.h"
#include "supervision/console_state.h"

namespace hm {

class EventLogList;
class JotwellBinding;
class NicknameRules;
class PlayerInfoStore;

// The game's console greeting: its first line begins with the title, and a line of its own begins
// with the password prompt. The game answers a wrong password with the refusal and hangs up.
inline constexpr std::string_view kGreetingTitle = "Kelvane 3 Dedicated Server";
inline constexpr std::string_view kGreetingPrompt = "Password:";
inline constexpr std::string_view kPasswordRefused = "Invalid password.";
inline constexpr size_t kGreetingMax = 4096;   // bytes of greeting or login reply looked at

// Whether the bytes a console peer sent first are the game's greeting (the password may be sent).
bool IsConsoleGreeting(std::string_view greeting);
// Whether the server's reply to the password turns it away.
bool IsPasswordRefusal(std::string_view reply);

class RemoteConsoleClient final : public RemoteConsole, private ConsoleActions {
public:
    static constexpr size_t kReceiveBufferBytes = 131072;
    static constexpr size_t kChunkLimit = 0x18000;          // a chunk is processed at the latest here
    static constexpr uint32_t kSilenceMs = 1000;            // output is framed by this much quiet
    static constexpr uint32_t kFinishWaitMs = 5000;         // for a worker to end after its farewell
    static constexpr uint32_t kCommandPauseMs = 100;
    static constexpr uint32_t kLoginTimeoutMs = 1000;
    static constexpr uint32_t kSendTimeoutMs = 250;
    static constexpr uint32_t kAddressRetryMs = 500;
    static constexpr uint32_t kReconnectPauses = 10;        // times kAddressRetryMs before a reconnect
    static constexpr uint32_t kKickPauses = 4;              // times 500 ms after the kick message
    static constexpr uint32_t kBanPauses = 5;
    static constexpr size_t kAutoCommandMax = 1021;         // characters of one automatic command
    static constexpr uint32_t kReplySilenceMs = 1000;       // an operator command's reply ends after this quiet ...
    static constexpr uint32_t kReplyLimitMs = 5000;         // ... or this long after the command was handed over

    // Copies the settings and starts the worker thread at once. `events` and `jotwell` may be null;
    // the rules, the player store and the clock must outlive the object. A non-zero
    // `consoleTimeoutMs` replaces both silence time-outs (before and after the login); it is a test
    // and demo aid, 0 keeps the normal ones.
    RemoteConsoleClient(EventLogList* events, const ConsoleSettings& settings, NicknameRules& rules,
                        PlayerInfoStore& players, JotwellBinding* jotwell, uint32_t processId,
                        uint16_t serverPort, Clock& clock, uint32_t consoleTimeoutMs = 0);
    // Logs out (nothing when that already happened), then closes the socket.
    ~RemoteConsoleClient() override;
    RemoteConsoleClient(const RemoteConsoleClient&) = delete;
    RemoteConsoleClient& operator=(const RemoteConsoleClient&) = delete;

    // RemoteConsole
    bool IsConnected() const override { return connected_.load() != 0; }
    bool HasPlayers() const override { return state_.hasPlayers.load() != 0; }
    void SendLogout() override { Logout(); }
    void SendQuit() override { Quit(); }
    void BeginClose(bool quit) override;
    void FinishClose() override;
    void HoldSends(uint32_t ms) override;
    ConsoleFigures Figures() const override;
    void SetPlayerCount(int32_t n) override;
    void SetEmptyListTicks(uint32_t ticks) override;
    void SetLastReportedCount(int32_t count) override;
    int RequestPlayers() override;
    void SetMaxPlayers(uint32_t n) override;
    void SendAutoCommands() override;
    std::vector<ConsolePlayer> Players() const override;
    bool SendConsoleCommand(const std::string& line, ConsoleReply reply) override;
    std::vector<std::string> ConsoleLinesAfter(uint64_t sequence, uint64_t& last) const override;

    // Commands; each is sent only while the worker thread is wanted and followed by a 100 ms pause
    // before the connection's next line.
    void RequestPlayerInfo(int number) override;
    void SetRespawnTime(uint32_t seconds) override;
    void Say(const std::string& text) override;
    void Kick(int number, const std::optional<std::string>& message) override;
    void Ban(int number, const std::optional<std::string>& message) override;
    void OnLoggedIn();
    void OnLevelStart() override;
    // Ends the connection and the worker; the server keeps running. A second call does nothing.
    void Logout();
    // Tells the server to quit, then ends the connection and the worker.
    void Quit();
    // Lines handed to the worker and not yet sent.
    size_t PendingSends() const;

    bool ThreadRunning() override { return threadWanted_.load(); }
    uint32_t ProcessId() const { return processId_; }
    uint32_t NextAutoCommand() const;
    uint32_t ListRequests() const { return state_.listRequests.load(); }
    uint32_t CurrentRespawnTime() const { return state_.currentRespawnTime.load(); }
    bool StopRequested() const { return stopRequested_.load() != 0; }
    bool Leaving() const { return leaving_.load(); }

private:
    // ConsoleActions, called by the parser on the worker thread.
    void SendCommand(const std::string& line) override;
    void Pause(uint32_t ms) override;
    PlayerVerdict NicknameVerdict(const std::string& name) override;
    bool UpdatePlayer(const std::string& name, const std::string& address) override;
    void SavePlayers() override;
    void AddEvent(const std::string& text) override;
    void WriteConsoleLog(std::string_view line) override;

    enum class LoginResult { LoggedIn, NoAnswer, Foreign, Refused };

    // One line for the worker to send (empty: a pause alone), and the quiet it keeps afterwards.
    struct Outgoing {
        std::string line;
        uint32_t pauseAfterMs = 0;
        bool farewellEnd = false;   // the farewell has gone out: the worker ends
        bool startsReply = false;   // the operator's console command: its reply is collected from here
    };

    // The reply being collected for the operator's console command (at most one at a time).
    struct PendingReply {
        ConsoleReply reply;
        std::string raw;           // console bytes read since the command went out
        Tick handedTick = 0;       // when the command was handed over
        bool sent = false;
        Tick lastTick = 0;         // the send or the last data after it
    };

    void Run();
    // One connection from connect to the end of its receive loop.
    void Session(char* receive);
    LoginResult Login(char* receive);
    void ReceiveLoop(char* receive);
    // Puts a line in the outbox (only while the thread is wanted and not saying goodbye) and wakes the
    // worker. A "$players" request that is still waiting there covers a new one.
    void Post(const std::string& line, uint32_t pauseAfterMs);
    // The farewell lines; true when this call started the goodbye.
    bool BeginFarewell(bool quit);
    // Worker: sends what is due; true once the farewell has gone out.
    bool SendDue();
    // Worker: ms until the next queued line is due, or nullopt when nothing is queued.
    std::optional<uint32_t> NextSendIn();
    // Worker: waits for console data, a posted line or the stop, at most `timeoutMs` (nullopt: without
    // limit). On a time-out the clock is brought to the deadline, so a manual clock keeps step.
    int WaitForWork(std::optional<uint32_t> timeoutMs);
    // Worker: a pause between connection attempts that ends early on the stop or the farewell.
    void Rest(uint32_t ms);
    bool StopWanted() const { return stopRequested_.load() != 0 || leaving_.load(); }
    // Worker: notes console bytes for a reply being collected; ms until that reply is due (nullopt:
    // none is being collected); hands the reply over when it is due, or at once with `now`.
    void NoteReplyData(const char* data, size_t size);
    std::optional<uint32_t> ReplyDueIn();
    void FinishReply(bool now);

    // The silence time-out the supervisor is told before and after the login.
    const uint32_t initialTimeoutMs_;
    const uint32_t loggedInTimeoutMs_;
    ConsoleState state_;
    NicknameRules& rules_;
    PlayerInfoStore& players_;
    Clock& clock_;
    const uint32_t processId_;
    std::atomic<EventLogList*> events_;
    TcpSocket socket_;
    ConsoleLog log_;
    ConsoleParser parser_;

    std::atomic<uint32_t> stopRequested_{0};
    std::atomic<uint32_t> connected_{0};
    std::atomic<bool> threadWanted_{false};   // the thread handle is held (not yet given up)
    std::atomic<bool> leaving_{false};         // the farewell was handed to the worker
    mutable std::mutex outLock_;               // the outbox, filled by both threads
    std::deque<Outgoing> outbox_;
    std::atomic<bool> cutPause_{false};        // the farewell ends the pause being kept
    Tick nextSendTick_ = 0;                    // worker only: no line goes out before this tick
    std::mutex finishLock_;                    // with `finished_`: the worker has returned
    std::condition_variable finishedSignal_;
    bool finished_ = false;
    // Worker only: a refused password and a stranger on the console port are reported once until
    // the next login, or the next game greeting, clears them.
    bool refusedReported_ = false;
    bool foreignReported_ = false;
    std::mutex lifeLock_;                      // one Logout/Quit at a time
    mutable std::mutex autoLock_;              // the automatic command index, shared by both threads
    std::mutex replyLock_;                     // with `reply_`, shared by both threads
    std::optional<PendingReply> reply_;
    // The console lines kept for the server window, each with its number; written by the worker, read
    // by the user-interface thread.
    mutable std::mutex linesLock_;
    std::deque<std::pair<uint64_t, std::string>> lines_;
    std::thread thread_;
};

// What the server manager binds into its console factory; `consoleTimeoutMs` as for the constructor.
std::unique_ptr<RemoteConsole> MakeRemoteConsole(EventLogList* events, const ConsoleSettings& settings,
                                                 NicknameRules& rules, PlayerInfoStore& players,
                                                 JotwellBinding* jotwell, uint32_t processId,
                                                 uint16_t serverPort, Clock& clock,
                                                 uint32_t consoleTimeoutMs = 0);

}  // namespace hm
