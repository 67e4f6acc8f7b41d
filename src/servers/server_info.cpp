#include "servers/server_info.h"

namespace hm {

RemoteConsole* CServerInfo::CreateConsole(const RemoteConsoleFactory& factory) {
    if (!console && factory) console = factory();
    return console.get();
}

uint32_t CServerInfo::CloseConsole(bool quit, Clock& clock) {
    if (!console) return 0;
    const uint32_t connected = BeginCloseConsole(quit);
    clock.Sleep(kCloseConsolePauseMs);
    FinishCloseConsole();
    return connected;
}

uint32_t CServerInfo::BeginCloseConsole(bool quit) {
    if (!console) return 0;
    const uint32_t connected = console->IsConnected() ? 1 : 0;
    console->BeginClose(quit);
    return connected;
}

void CServerInfo::FinishCloseConsole() {
    if (!console) return;
    console->FinishClose();
    console.reset();
}

void CServerInfo::Write(ArchiveWriter& ar) {
    ar.Dword(kVersion);
    ar.Dword(startTick);
    ar.Dword(kProcessBlockVersion);
    ar.Dword(processId);
    ar.Dword(threadId);
    config.Write(ar);
    ar.Dword(stoppedOnPurpose);
}

void CServerInfo::Read(ArchiveReader& ar) {
    uint32_t version = 0;
    if (!ar.Get(version) || version == 0) return;
    ar.Get(startTick);
    uint32_t processVersion = 0;
    if (ar.Get(processVersion) && processVersion != 0) {
        ar.Get(processId);
        ar.Get(threadId);
    }
    config.Read(ar);
    if (version >= 2) ar.Get(stoppedOnPurpose);
}

}  // namespace hm
