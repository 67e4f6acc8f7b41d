// "k3ded client --port GAMEPORT [--timeout MS] [--delay MS] [--wait MS] VERB [ARGUMENTS]": one
// simulated game client action, sent as datagrams from 127.0.0.1 to the server's game port. Prints
// the server's answer (and, with --wait after a join, the notices that follow: KICKED, BANNED,
// SHUTDOWN) on stdout. Exit code 0 for an OK answer, 2 for REFUSED or ERR, 1 when no answer came or
// the arguments are wrong. Runs on the main thread of a short-lived process.
#pragma once

#include <string>
#include <vector>

namespace hm::k3ded {

// args: the words after "client".
int RunClient(const std::vector<std::string>& args);

// Builds the datagram body for a client verb and its arguments; false with error for bad input.
// Exposed for the README's examples and for checking argument handling.
bool BuildClientRequest(const std::string& verb, const std::vector<std::string>& arguments, std::string& body,
                        std::string& error);

}  // namespace hm::k3ded
