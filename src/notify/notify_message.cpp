#include "notify/notify_message.h"

#include "servers/json_text.h"

namespace hm {
namespace {

const char* KindWord(const NotifyMessage& message) { return message.test ? "test" : NotifyKindName(message.kind); }

std::string DroppedNote(uint64_t dropped) {
    if (dropped == 0) return std::string();
    return std::to_string(dropped) + (dropped == 1 ? " earlier notification was" : " earlier notifications were") +
           " dropped.";
}

}  // namespace

std::string NotifyChatText(const NotifyMessage& message) {
    std::string text = message.text;
    const std::string server = "Server " + std::to_string(message.port);
    if (message.port != 0 && !message.serverName.empty() && text.compare(0, server.size(), server) == 0 &&
        text.compare(server.size(), 2, " (") != 0) {
        text.insert(server.size(), " (" + message.serverName + ")");
    }
    std::string line = "[";
    line.append(KindWord(message)).append("] ").append(text);
    return line;
}

std::string NotifyBody(NotifyFormat format, const NotifyMessage& message, uint64_t dropped) {
    if (format == NotifyFormat::Discord) {
        std::string text = NotifyChatText(message);
        const std::string note = DroppedNote(dropped);
        if (!note.empty()) text += "\n(" + note + ")";
        // Cut by characters: a cut inside a character's bytes would not be UTF-8 any more.
        std::string content = Cp1252ToUtf8(text);
        content.resize(Utf8Prefix(content, kDiscordContentLimit));
        std::string body = "{\"content\":\"";
        // The content is UTF-8 already: escaped byte for byte, the bytes above 0x7F pass unchanged.
        for (char ch : content) {
            const unsigned char c = static_cast<unsigned char>(ch);
            if (c == '"' || c == '\\') {
                body += '\\';
                body += ch;
            } else if (c == '\n') {
                body += "\\n";
            } else if (c < 0x20) {
                static constexpr char kHex[] = "0123456789abcdef";
                body += "\\u00";
                body += kHex[c >> 4];
                body += kHex[c & 0xF];
            } else {
                body += ch;
            }
        }
        return body + "\",\"allowed_mentions\":{\"parse\":[]}}";
    }
    std::string body = "{\"time\":\"" + IsoLocalTime(message.time) + "\",\"port\":";
    body += message.port ? std::to_string(message.port) : "null";
    body += ",\"server\":";
    body += message.serverName.empty() ? "null" : JsonString(message.serverName);
    body += ",\"event\":\"" + std::string(KindWord(message)) + "\",\"text\":" + JsonString(message.text);
    body += ",\"dropped\":" + std::to_string(dropped) + "}";
    return body;
}

}  // namespace hm
