#include "servers/remote_info_settings.h"

namespace hm {

void RemoteInfoSettings::Write(ArchiveWriter& ar) const {
    ar.Dword(kVersion);
    ar.Dword(enabled);
    ar.Word(port);
    ar.String(password);
}

void RemoteInfoSettings::Read(ArchiveReader& ar) {
    uint32_t version = 0;
    if (!ar.Get(version) || version == 0) return;
    ar.Get(enabled);
    ar.Get(port);
    ar.GetString(password);
}

}  // namespace hm
