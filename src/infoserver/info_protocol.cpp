#include "infoserver/info_protocol.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace hm::info {
namespace {

void PutLe16(std::string& out, size_t at, uint16_t v) {
    out[at] = static_cast<char>(v & 0xFF);
    out[at + 1] = static_cast<char>(v >> 8);
}

void PutLe32(std::string& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

uint16_t GetLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t GetLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

// A zeroed record of `size` bytes with the common header filled in.
std::string Record(uint8_t type, size_t size, uint32_t indexOrStatus) {
    std::string out(size, '\0');
    out[0] = static_cast<char>(kMarker);
    out[1] = static_cast<char>(type);
    PutLe16(out, 2, static_cast<uint16_t>(size - 1));
    PutLe32(out, 4, indexOrStatus);
    return out;
}

// Copies at most fieldSize - 1 characters; the rest of the field stays zero. A NUL inside the text
// ends it there, as the reader would see it anyway.
void PutText(std::string& out, size_t at, size_t fieldSize, const std::string& text) {
    const size_t length = std::min(std::strlen(text.c_str()), fieldSize - 1);
    std::memcpy(&out[at], text.data(), length);
}

// The text of a fixed field up to its NUL; a field without one gives its size minus one characters
// (a well-formed field always has one).
std::string GetText(const uint8_t* field, size_t fieldSize) {
    const void* nul = std::memchr(field, 0, fieldSize);
    const size_t length = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - field) : fieldSize - 1;
    return std::string(reinterpret_cast<const char*>(field), length);
}

}  // namespace

uint32_t PasswordCheck(const std::string& password) {
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(password.data()), static_cast<uInt>(password.size()));
    return static_cast<uint32_t>(crc);
}

std::string StatusMeaning(int32_t status) {
    switch (status) {
        case kStatusOk: return "success";
        case kStatusInvalidCommand: return "invalid command";
        case kStatusInvalidPassword: return "invalid password";
        case kStatusSendFailed: return "sending a data record failed";
        case kStatusNotFound: return "entry not found";
        default: return "status " + std::to_string(status);
    }
}

bool ParseRequest(const uint8_t* data, size_t size, Request& request) {
    if (!data || size < kHeaderSize || size > kMaxDatagram) return false;
    if (data[0] != kMarker || static_cast<size_t>(GetLe16(data + 2)) + 1 != size) return false;
    request = Request{};
    request.command = data[1];
    request.check = GetLe32(data + 4);
    if (request.command != kSetTrackerInfo && request.command != kRemoveTrackerInfo) return true;

    // The key must end inside its field and inside the datagram.
    const size_t keyRoom = std::min(kKeyField, size - kHeaderSize);
    const void* keyEnd = std::memchr(data + kHeaderSize, 0, keyRoom);
    if (!keyEnd) {
        request.dataValid = false;
        return true;
    }
    request.key.assign(reinterpret_cast<const char*>(data + kHeaderSize),
                       static_cast<const uint8_t*>(keyEnd) - (data + kHeaderSize));
    if (request.command == kSetTrackerInfo) {
        const size_t valueAt = kHeaderSize + kKeyField;
        if (size < valueAt) {
            request.dataValid = false;
            return true;
        }
        const size_t room = size - valueAt;
        const void* valueEnd = std::memchr(data + valueAt, 0, room);
        const size_t length = valueEnd ? static_cast<size_t>(static_cast<const uint8_t*>(valueEnd) - (data + valueAt)) : room;
        request.value.assign(reinterpret_cast<const char*>(data + valueAt), std::min(length, kValueField - 1));
    }
    return true;
}

std::string EncodeRequest(uint8_t command, uint32_t check) {
    std::string out = Record(command, kHeaderSize, check);
    return out;
}

std::string EncodeSetRequest(uint32_t check, const std::string& key, const std::string& value) {
    std::string out = Record(kSetTrackerInfo, kHeaderSize + kKeyField + kValueField, check);
    PutText(out, kHeaderSize, kKeyField, key);
    PutText(out, kHeaderSize + kKeyField, kValueField, value);
    return out;
}

std::string EncodeRemoveRequest(uint32_t check, const std::string& key) {
    std::string out = Record(kRemoveTrackerInfo, kHeaderSize + kKeyField, check);
    PutText(out, kHeaderSize, kKeyField, key);
    return out;
}

std::string EncodeStatus(int32_t status) {
    return Record(kStatusRecord, kStatusRecordSize, static_cast<uint32_t>(status));
}

std::string EncodeServerRecord(const ServerRecord& r) {
    std::string out = Record(kServerRecord, kServerRecordSize, static_cast<uint32_t>(r.index));
    PutLe16(out, 8, r.serverPort);
    PutText(out, 10, kTextField, r.gameName);
    PutText(out, 138, kTextField, r.missionTitle);
    PutText(out, 266, kTextField, r.scriptName);
    PutLe32(out, 394, r.maxPlayers - 1);
    PutLe16(out, 398, r.consolePort);
    PutText(out, 400, kTextField, r.consolePassword);
    return out;
}

std::string EncodeTrackerRecord(const TrackerRecord& r) {
    std::string out = Record(kTrackerRecord, kTrackerRecordSize, static_cast<uint32_t>(r.index));
    PutText(out, 8, kKeyField, r.key);
    PutText(out, 18, kValueField, r.value);
    return out;
}

bool ParseReplyHeader(const uint8_t* data, size_t size, ReplyHeader& header) {
    if (!data || size < kHeaderSize || data[0] != kMarker) return false;
    if (static_cast<size_t>(GetLe16(data + 2)) + 1 != size) return false;
    header.type = data[1];
    header.indexOrStatus = static_cast<int32_t>(GetLe32(data + 4));
    return true;
}

bool DecodeServerRecord(const uint8_t* data, size_t size, ServerRecord& r) {
    ReplyHeader header;
    if (!ParseReplyHeader(data, size, header) || header.type != kServerRecord || size != kServerRecordSize) {
        return false;
    }
    r.index = header.indexOrStatus;
    r.serverPort = GetLe16(data + 8);
    r.gameName = GetText(data + 10, kTextField);
    r.missionTitle = GetText(data + 138, kTextField);
    r.scriptName = GetText(data + 266, kTextField);
    r.maxPlayers = GetLe32(data + 394) + 1;
    r.consolePort = GetLe16(data + 398);
    r.consolePassword = GetText(data + 400, kTextField);
    return true;
}

bool DecodeTrackerRecord(const uint8_t* data, size_t size, TrackerRecord& r) {
    ReplyHeader header;
    if (!ParseReplyHeader(data, size, header) || header.type != kTrackerRecord || size != kTrackerRecordSize) {
        return false;
    }
    r.index = header.indexOrStatus;
    r.key = GetText(data + 8, kKeyField);
    r.value = GetText(data + 18, kValueField);
    return true;
}

}  // namespace hm::info
