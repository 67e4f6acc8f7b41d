// The remote console client: one TCP connection to one game server's console, with the worker thread
// that connects, logs in, collects the server's output, cuts it into chunks and hands each chunk to
// the console parser, and the commands the rest of the program sends to the server.
//
// A server's entry (CServerInfo) owns the client and creates and deletes it on the user-interface
// thread; the worker thread starts with the object and ends in Logout or Quit. Commands come from both
// threads at once: the socket serialises whole lines, so two command lines never interleave. The client
// never kills its thread: Logout and Quit set the stop flag and close the socket, which wakes the
// blocked receive, and every pause of the worker ends early on the stop flag. Text from the network is
// only ever data, never a format string or a path. The password is never sent to a peer that does not
// greet like the game, and a connection the server ends is noticed at once and re-established.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

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
    static constexpr uint32_t kPollMs = 200;
    static constexpr uint32_t kCommandPauseMs = 100;
    static constexpr uint32_t kLoginTimeoutMs = 1000;
    static constexpr uint32_t kSendTimeoutMs = 250;
    static constexpr uint32_t kAddressRetryMs = 500;
    static constexpr uint32_t kReconnectPauses = 10;        // times kAddressRetryMs before a reconnect
    static constexpr uint32_t kKickPauses = 4;              // times 500 ms after the kick message
    static constexpr uint32_t kBanPauses = 5;
    static constexpr size_t kAutoCommandMax = 1021;         // characters of one automatic command

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
    ConsoleFigures Figures() const override;
    void SetPlayerCount(int32_t n) override;
    void SetEmptyListTicks(uint32_t ticks) override;
    void SetLastReportedCount(int32_t count) override;
    int RequestPlayers() override;
    void SetMaxPlayers(uint32_t n) override;
    void SendAutoCommands() override;

    // Commands; each is sent only while the worker thread is wanted and followed by a 100 ms pause.
    void RequestPlayerInfo(int number) override;
    void SetRespawnTime(uint32_t seconds) override;
    void Say(const std::string& text);
    void Kick(int number, const std::optional<std::string>& message) override;
    void Ban(int number, const std::optional<std::string>& message) override;
    void OnLoggedIn();
    void OnLevelStart() override;
    // Ends the connection and the worker; the server keeps running. A second call does nothing.
    void Logout();
    // Tells the server to quit, then ends the connection and the worker.
    void Quit();

    bool ThreadRunning() override { return threadWanted_.load(); }
    uint32_t ProcessId() const { return processId_; }
    uint32_t NextAutoCommand() const;
    uint32_t ListRequests() const { return state_.listRequests.load(); }
    uint32_t CurrentRespawnTime() const { return state_.currentRespawnTime.load(); }
    bool StopRequested() const { return stopRequested_.load() != 0; }

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

    void Run();
    // One connection from connect to the end of its receive loop.
    void Session(char* receive);
    LoginResult Login(char* receive);
    void ReceiveLoop(char* receive);
    // Sends only while the thread is wanted, then pauses 100 ms.
    void SendWithPause(const std::string& line);
    // Ends the worker after the farewell lines were sent: stop flag, socket closed, thread joined.
    void StopWorker();

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
    // Worker only: a refused password and a stranger on the console port are reported once until
    // the next login, or the next game greeting, clears them.
    bool refusedReported_ = false;
    bool foreignReported_ = false;
    std::mutex lifeLock_;                      // one Logout/Quit at a time
    mutable std::mutex autoLock_;              // the automatic command index, shared by both threads
    std::thread thread_;
};

// What the server manager binds into its console factory; `consoleTimeoutMs` as for the constructor.
std::unique_ptr<RemoteConsole> MakeRemoteConsole(EventLogList* events, const ConsoleSettings& settings,
                                                 NicknameRules& rules, PlayerInfoStore& players,
                                                 JotwellBinding* jotwell, uint32_t processId,
                                                 uint16_t serverPort, Clock& clock,
                                                 uint32_t consoleTimeoutMs = 0);

}  // namespace hm
