// The texts k3ded speaks: the UDP datagrams between simulated game clients and the server, and the
// framing of the remote console. Shared by the server and the client mode; constants only.
//
// Datagrams are ASCII text without line end, at most kMaxDatagram bytes. Client to server:
// "K3C1 <VERB> [arguments]"; server to client: "K3S1 <reply>". Verbs and replies are listed in
// README.md. A datagram without the prefix is ignored silently.
#pragma once

#include <cstddef>

namespace hm::k3ded {

constexpr const char* kClientPrefix = "K3C1 ";
constexpr const char* kServerPrefix = "K3S1 ";
constexpr size_t kMaxDatagram = 512;

// First character of every player message line; the console's readers take the name from the second
// character on.
constexpr char kPlayerMarker = '>';

// Every console burst but the first after login starts with this colour code; the console's readers
// drop it together with the NUL that ended the previous burst.
constexpr char kColourCode[4] = {'\x01', '\x7F', '\x7F', '\x7F'};

// The remote console's line limit; a longer command is refused as a whole.
constexpr size_t kMaxConsoleLine = 1023;
constexpr size_t kMaxConsoleClients = 8;
constexpr unsigned kLoginTimeoutMs = 60000;

}  // namespace hm::k3ded
