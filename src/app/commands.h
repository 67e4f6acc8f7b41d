// Commands that a second start of the program hands to the running instance.
//
// The request is the command word and its arguments, one per line. Execute runs on the
// user-interface thread (the caller posts it there) and returns the answer text for the sender.
#pragma once

#include <string>
#include <vector>

namespace hm {

class ServerManager;

std::string EncodeCommand(const std::vector<std::string>& words);
std::vector<std::string> DecodeCommand(const std::string& request);

// Runs one command on the manager. Sets *closes when the command ends the program.
std::string ExecuteCommand(ServerManager& manager, const std::vector<std::string>& words, bool* closes);

// The usage text of the program.
std::string UsageText();

}  // namespace hm
