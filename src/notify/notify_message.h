// One notification and the request body it becomes for a target's format.
//
// Pure functions, any thread. The texts are Windows-1252 (event lines carry server and player names
// as the game gives them); the bodies are UTF-8 JSON, escaped whatever the names hold. A chat message
// never pings anybody, whatever a name says ("@everyone").
#pragma once

#include <cstdint>
#include <string>

#include "platform/clock.h"
#include "servers/program_settings.h"

namespace hm {

struct NotifyMessage {
    LocalTime time{};
    NotifyKind kind = NotifyKind::Error;
    bool test = false;        // the operator's test message: its kind reads "test"
    unsigned port = 0;        // 0: no server
    std::string serverName;   // "" when unknown
    std::string text;         // the event line without its stamp
};

// The longest chat message the discord format sends, in characters.
inline constexpr size_t kDiscordContentLimit = 2000;

// `dropped`: how many messages before this one were lost on the way to the target (a full queue, or
// every try failed); the message says so.
std::string NotifyBody(NotifyFormat format, const NotifyMessage& message, uint64_t dropped);

// The chat line of a message: "[crash] Server 2300 (Alpha): Not running anymore -> Restart." (the
// name put in when the line itself does not give it).
std::string NotifyChatText(const NotifyMessage& message);

}  // namespace hm
