// The remote info protocol on the wire: requests to the remote info server and its reply records,
// byte for byte, and the password check value that every request carries.
//
// Shared by the service (RemoteInfoServer) and its command-line companion haldscope, so both read
// and write exactly the same bytes. Pure functions without state: any thread may call them. Nothing
// here touches a socket or the stores, and no decoder ever reads outside the bytes it is given: every
// length comes from the datagram's own size, never from a field inside it.
//
// All numbers are little-endian. Strings travel NUL-terminated in fixed fields; a field holds at most
// its size minus one characters and is zero behind them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hm::info {

inline constexpr uint8_t kMarker = 2;
inline constexpr size_t kMaxDatagram = 1500;  // requests larger than this are never read
inline constexpr size_t kHeaderSize = 8;

// Commands of a request.
inline constexpr uint8_t kListServers = 1;
inline constexpr uint8_t kListTrackerInfo = 3;
inline constexpr uint8_t kSetTrackerInfo = 5;
inline constexpr uint8_t kRemoveTrackerInfo = 6;

// Record types of a reply.
inline constexpr uint8_t kStatusRecord = 0;
inline constexpr uint8_t kServerRecord = 2;
inline constexpr uint8_t kTrackerRecord = 3;

inline constexpr size_t kStatusRecordSize = 8;
inline constexpr size_t kServerRecordSize = 528;
inline constexpr size_t kTrackerRecordSize = 146;

// Field sizes (terminator included).
inline constexpr size_t kKeyField = 10;     // tracker info key: at most 9 characters
inline constexpr size_t kValueField = 128;  // tracker info value: at most 127 characters
inline constexpr size_t kTextField = 128;   // names and passwords of a server record

// Status values of the status record.
inline constexpr int32_t kStatusOk = 0;
inline constexpr int32_t kStatusInvalidCommand = -1;
inline constexpr int32_t kStatusInvalidPassword = -2;
inline constexpr int32_t kStatusSendFailed = -3;
inline constexpr int32_t kStatusNotFound = -4;

// The standard CRC-32 (zlib, Ethernet) of the password's bytes; 0 for an empty password.
uint32_t PasswordCheck(const std::string& password);

// "invalid command", "invalid password", "sending a data record failed", "entry not found", "success";
// "status N" for any other value.
std::string StatusMeaning(int32_t status);

// A request as the service reads it.
struct Request {
    uint8_t command = 0;
    uint32_t check = 0;
    // Commands 5 and 6: the key (at offset 8, NUL-terminated inside its 10-byte field) and, for 5, the
    // value (at offset 18, up to its NUL or the datagram's end, cut to 127 characters).
    std::string key;
    std::string value;
    bool dataValid = true;  // false: command 5 or 6 without a terminated key (or 5 without a value)
};

// False (drop without an answer) unless byte 0 is the marker and the datagram's size is exactly its
// length field + 1; at least the 8-byte header is needed. The command data is judged only for the
// commands that have data (see Request::dataValid), so an unknown command still parses.
bool ParseRequest(const uint8_t* data, size_t size, Request& request);

// Request datagrams as a client sends them. Keys longer than 9 and values longer than 127 characters
// are cut to their fields.
std::string EncodeRequest(uint8_t command, uint32_t check);
std::string EncodeSetRequest(uint32_t check, const std::string& key, const std::string& value);
std::string EncodeRemoveRequest(uint32_t check, const std::string& key);

// One configured server as the list reply carries it.
struct ServerRecord {
    int32_t index = 0;
    uint16_t serverPort = 0;
    std::string gameName;
    std::string missionTitle;
    std::string scriptName;
    uint32_t maxPlayers = 0;  // the record carries this minus 1
    uint16_t consolePort = 0;
    std::string consolePassword;
};

struct TrackerRecord {
    int32_t index = 0;
    std::string key;
    std::string value;
};

std::string EncodeStatus(int32_t status);
std::string EncodeServerRecord(const ServerRecord& record);
std::string EncodeTrackerRecord(const TrackerRecord& record);

// The header of any reply datagram; false unless it has the marker and its size is length + 1.
struct ReplyHeader {
    uint8_t type = 0;
    int32_t indexOrStatus = 0;
};
bool ParseReplyHeader(const uint8_t* data, size_t size, ReplyHeader& header);
// Whole records of the given type and size; false for anything else.
bool DecodeServerRecord(const uint8_t* data, size_t size, ServerRecord& record);
bool DecodeTrackerRecord(const uint8_t* data, size_t size, TrackerRecord& record);

}  // namespace hm::info
