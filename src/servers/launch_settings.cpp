#include "servers/launch_settings.h"

namespace hm {

void CLaunchSettings::Write(ArchiveWriter& ar) const {
    ar.Dword(kVersion);
    ar.String(executable);
    ar.String(extraName);
    ar.String(configFile);
    ar.String(autoexecFile);
    ar.String(gameSpyFile);
    ar.Word(gameSpyPort);
    ar.Dword(launchFlag);
    ar.String(tempDir);
    ar.String(setDir);
    ar.String(bindAddress);
    ar.Word(serverPort);
    ar.Dword(framesPerSecond);
    ar.Dword(disableShipLogos);
    ar.String(extraArguments);
}

void CLaunchSettings::Read(ArchiveReader& ar) {
    uint32_t version = 0;
    if (!ar.Get(version) || version == 0) return;
    ar.GetString(executable);
    ar.GetString(extraName);
    ar.GetString(configFile);
    ar.GetString(autoexecFile);
    ar.GetString(gameSpyFile);
    ar.Get(gameSpyPort);
    ar.Get(launchFlag);
    ar.GetString(tempDir);
    ar.GetString(setDir);
    ar.GetString(bindAddress);
    ar.Get(serverPort);
    ar.Get(framesPerSecond);
    ar.Get(disableShipLogos);
    ar.GetString(extraArguments);
}

}  // namespace hm
