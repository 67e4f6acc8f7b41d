// Supervised server entries and "ServerInfo.dat": layout, re-attaching stored process identifiers
// (never to a process that is not this server), and the entry's console connection.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "servers/server_info_array.h"

namespace hm {
namespace {

std::string Dw(uint32_t v) {
    std::string b;
    for (int i = 0; i < 4; ++i) b += static_cast<char>((v >> (8 * i)) & 0xFF);
    return b;
}

std::string ConfigBytes(CServerConfig config) {
    std::string out;
    {
        ArchiveWriter ar(&out);
        config.Write(ar);
    }
    return out;
}

TEST(ServerInfoArray, FileLayoutIsListOfEntryBlocks) {
    CServerInfoArray array;
    auto entry = std::make_unique<CServerInfo>();
    entry->startTick = 0x11223344;
    entry->processId = 4321;
    entry->threadId = 99;
    entry->stoppedOnPurpose = 1;
    entry->selectiveIdleTicks = 5;  // never stored
    entry->config.launch.serverPort = 2100;
    array.entries.push_back(std::move(entry));

    const std::string expected = Dw(1) + std::string("\x01\x00", 2) + Dw(2) + Dw(0x11223344) + Dw(1) + Dw(4321) +
                                 Dw(99) + ConfigBytes(array.entries[0]->config) + Dw(1);
    EXPECT_EQ(array.Serialize(), expected);
}

TEST(ServerInfoArray, AttachDecidesWhetherTheEntryKeepsItsProcess) {
    struct Case {
        const char* what;
        uint32_t storedPid;
        uint32_t stoppedOnPurpose;
        bool attachSucceeds;
        uint32_t threadId;
        bool held;
        int attachCalls;
    } cases[] = {
        {"attached", 4321, 0, true, 0, true, 1},
        {"gone", 4321, 0, false, 99, false, 1},
        // Stored before its launch: the process is looked for all the same.
        {"launch not recorded", 0, 0, true, 0, true, 1},
        {"never started", 0, 0, false, 99, false, 1},
        // Halted, then relaunched by a restart before the list was stored again: taken back.
        {"stopped on purpose, relaunched", 0, 1, true, 0, true, 1},
        {"stopped on purpose", 0, 1, false, 99, false, 1},
    };
    for (const Case& c : cases) {
        CServerInfoArray source;
        source.entries.push_back(std::make_unique<CServerInfo>());
        source.entries[0]->processId = c.storedPid;
        source.entries[0]->threadId = 99;
        source.entries[0]->stoppedOnPurpose = c.stoppedOnPurpose;
        source.entries[0]->config.launch.tempDir = "cache\\2100";
        const std::string bytes = source.Serialize();

        int calls = 0;
        uint32_t attachedPid = 0;
        // A real process stands in for the attached server: our own short-lived child.
        CServerInfoArray::AttachFunction attach = [&](uint32_t pid, const CServerConfig& config) {
            ++calls;
            EXPECT_EQ(pid, c.storedPid);
            EXPECT_EQ(config.launch.tempDir, "cache\\2100");  // the whole entry was read first
            if (!c.attachSucceeds) return std::unique_ptr<Process>();
            std::unique_ptr<Process> process = Process::Spawn("/bin/sh", "-c true", "/", "");
            attachedPid = process ? process->Pid() : 0;
            return process;
        };
        CServerInfoArray loaded;
        ArchiveReader reader(bytes);
        loaded.ReadFrom(reader, attach);
        ASSERT_FALSE(reader.Failed()) << c.what;
        ASSERT_EQ(loaded.entries.size(), 1u);
        EXPECT_EQ(calls, c.attachCalls) << c.what;
        EXPECT_EQ(loaded.entries[0]->processId, c.held ? attachedPid : 0u) << c.what << ": the pid of what was attached";
        EXPECT_EQ(loaded.entries[0]->threadId, c.threadId) << c.what;
        EXPECT_EQ(loaded.entries[0]->process != nullptr, c.held) << c.what;
        EXPECT_EQ(loaded.entries[0]->stoppedOnPurpose, c.held ? 0u : c.stoppedOnPurpose) << c.what;
        if (loaded.entries[0]->process) loaded.entries[0]->process->Wait(5000);
    }
}

TEST(ServerInfoArray, DefaultAttachProvesIdentityByTheCacheFolder) {
    // A stand-in game server whose command line names its cache folder, as a launched server's does.
    std::unique_ptr<Process> server = Process::Spawn("/bin/sh", "-c \"sleep 30; exit 0\" /tmp/hm_cache/2100", "/", "");
    ASSERT_TRUE(server);
    const uint32_t pid = server->Pid();
    // A re-attached server has long finished starting; wait until this one shows its command line.
    std::string commandLine;
    for (int i = 0; i < 500 && commandLine.find("hm_cache") == std::string::npos; ++i) {
        fs::ReadWholeFile("/proc/" + std::to_string(pid) + "/cmdline", commandLine);
        if (commandLine.find("hm_cache") == std::string::npos) RealClock().Sleep(2);
    }
    struct Case {
        const char* tempDir;
        uint32_t storedPid;
        bool attached;
    } cases[] = {
        {"\\tmp\\hm_cache\\2100", pid, true},  // stored with backslashes, matched with slashes
        {"\\tmp\\hm_cache\\2101", pid, false},  // the pid now belongs to some other program
        {"", pid, false},                        // nothing could prove it: never taken on trust
        // The list lagged behind a launch: no pid, or an older one; the folder finds the server.
        {"\\tmp\\hm_cache\\2100", 0, true},
        {"\\tmp\\hm_cache\\2100", 1, true},
        {"\\tmp\\hm_cache\\210", 0, false},  // a whole argument, not a part of one
    };
    for (const Case& c : cases) {
        CServerConfig config;
        config.launch.tempDir = c.tempDir;
        std::unique_ptr<Process> attached = CServerInfoArray::DefaultAttach(c.storedPid, config);
        EXPECT_EQ(attached != nullptr, c.attached) << c.tempDir << " pid " << c.storedPid;
        if (attached) EXPECT_EQ(attached->Pid(), pid);
    }
    server->Terminate();
    server->Wait(5000);
}

class FakeConsole : public RemoteConsole {
public:
    FakeConsole(bool connected, std::vector<std::string>* log) : connected_(connected), log_(log) {}
    ~FakeConsole() override { log_->push_back("deleted"); }
    bool IsConnected() const override { return connected_; }
    bool HasPlayers() const override { return false; }
    void SendLogout() override { log_->push_back("logout"); }
    void SendQuit() override { log_->push_back("quit"); }
    ConsoleFigures Figures() const override { return {}; }
    void SetPlayerCount(int32_t) override {}
    void SetEmptyListTicks(uint32_t) override {}
    void SetLastReportedCount(int32_t) override {}
    int RequestPlayers() override { return 0; }
    void SetMaxPlayers(uint32_t) override {}
    void SendAutoCommands() override {}

private:
    bool connected_;
    std::vector<std::string>* log_;
};

TEST(ServerInfo, ConsoleIsCreatedOnceAndClosedAfterAPause) {
    struct Case {
        bool quit, connected;
        const char* sent;
    } cases[] = {{true, true, "quit"}, {false, true, "logout"}, {false, false, "logout"}};
    for (const Case& c : cases) {
        std::vector<std::string> log;
        int made = 0;
        RemoteConsoleFactory factory = [&] {
            ++made;
            return std::make_unique<FakeConsole>(c.connected, &log);
        };
        CServerInfo entry;
        RemoteConsole* first = entry.CreateConsole(factory);
        EXPECT_EQ(entry.CreateConsole(factory), first);
        EXPECT_EQ(made, 1);

        ManualClock clock(1000);
        EXPECT_EQ(entry.CloseConsole(c.quit, clock), c.connected ? 1u : 0u);
        EXPECT_EQ(log, (std::vector<std::string>{c.sent, "deleted"}));
        EXPECT_EQ(clock.TickCount(), 1250u);
        EXPECT_EQ(entry.console, nullptr);
        EXPECT_EQ(entry.CloseConsole(c.quit, clock), 0u);  // none left
        EXPECT_EQ(clock.TickCount(), 1250u);
    }
}

}  // namespace
}  // namespace hm
