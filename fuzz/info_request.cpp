// Datagrams that reach the remote info server from the network, and the replies haldscope reads: a
// request that parses must be exactly as long as its length field says, its key and value must fit
// their fields, and a key and value that parse must come back unchanged through a new request. A
// reply record that decodes must decode the same after encoding it again.
#include <cstdlib>
#include <string>

#include "infoserver/info_protocol.h"

namespace info = hm::info;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    info::Request request;
    if (info::ParseRequest(data, size, request)) {
        if (size < info::kHeaderSize || size > info::kMaxDatagram || data[0] != info::kMarker) std::abort();
        if (static_cast<size_t>(data[2] | (data[3] << 8)) + 1 != size) std::abort();
        if (request.key.size() > info::kKeyField - 1 || request.value.size() > info::kValueField - 1) std::abort();
        if (request.key.find('\0') != std::string::npos || request.value.find('\0') != std::string::npos) std::abort();
        if (request.dataValid && request.command == info::kSetTrackerInfo) {
            const std::string again = info::EncodeSetRequest(request.check, request.key, request.value);
            info::Request reread;
            if (!info::ParseRequest(reinterpret_cast<const uint8_t*>(again.data()), again.size(), reread)) std::abort();
            if (reread.key != request.key || reread.value != request.value || reread.check != request.check) std::abort();
        }
    }

    info::ServerRecord server;
    if (info::DecodeServerRecord(data, size, server)) {
        const std::string again = info::EncodeServerRecord(server);
        info::ServerRecord reread;
        if (!info::DecodeServerRecord(reinterpret_cast<const uint8_t*>(again.data()), again.size(), reread)) std::abort();
        if (reread.gameName != server.gameName || reread.consolePassword != server.consolePassword ||
            reread.maxPlayers != server.maxPlayers || reread.consolePort != server.consolePort) {
            std::abort();
        }
    }
    info::TrackerRecord tracker;
    if (info::DecodeTrackerRecord(data, size, tracker)) {
        const std::string again = info::EncodeTrackerRecord(tracker);
        info::TrackerRecord reread;
        if (!info::DecodeTrackerRecord(reinterpret_cast<const uint8_t*>(again.data()), again.size(), reread) ||
            reread.key != tracker.key || reread.value != tracker.value) {
            std::abort();
        }
    }
    return 0;
}
