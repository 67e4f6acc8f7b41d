// The settings of the remote info server (the UDP service the companion tool queries): whether it
// runs, its port and its shared password.
//
// One record inside CGlobalOptions; edited on the user-interface thread, copied by the info server
// when it starts. This module holds only the data and its stored form.
#pragma once

#include <cstdint>
#include <string>

#include "servers/archive.h"

namespace hm {

class RemoteInfoSettings {
public:
    static constexpr uint32_t kVersion = 1;

    uint32_t enabled = 0;
    uint16_t port = 2090;  // 1024 to 65535
    std::string password;

    bool operator==(const RemoteInfoSettings&) const = default;

    void Write(ArchiveWriter& ar) const;
    void Read(ArchiveReader& ar);
};

using RemoteInfoOptions = RemoteInfoSettings;

}  // namespace hm
