// Commands that a second start of the program hands to the running instance.
//
// The request is the command word and its arguments as a list: each word is sent as its length in
// decimal, ':', its bytes and ',', so any byte (a newline, a blank, a NUL) stays inside its word.
// Sender and receiver are the same build. Execute runs on the user-interface thread (the caller
// posts it there), checks the argument count of every command and returns the answer text for the
// sender; an answer that begins with "Error:" makes the sender end with a non-zero code. The
// operator's console commands (players, say, kick, ban, console) reach a server through its remote
// console; `console` waits for the server's reply without holding the user-interface thread.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace hm {

class ServerManager;

std::string EncodeCommand(const std::vector<std::string>& words);
// False for anything but a complete, non-empty list of words.
bool DecodeCommand(const std::string& request, std::vector<std::string>& words);

// Runs one command on the manager. Sets *closes when the command ends the program.
std::string ExecuteCommand(ServerManager& manager, const std::vector<std::string>& words, bool* closes);

// Takes the answer of a command that waits for a game server (`console`); called once, from any
// thread, and must not block.
using LateAnswer = std::function<void(const std::string& answer)>;
// As ExecuteCommand, but a command that waits for a game server returns nothing and answers through
// `late` later; without `late` such a command is refused.
std::optional<std::string> ExecuteCommandOrLater(ServerManager& manager, const std::vector<std::string>& words,
                                                 bool* closes, LateAnswer late);

// The usage text of the program.
std::string UsageText();

}  // namespace hm
