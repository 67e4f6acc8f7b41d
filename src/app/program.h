// The process: start steps, the single-instance rule, the headless run, and the end.
//
// RunProgram is main(). It binds the logging library, removes the self-update's leftovers, decides
// whether another instance runs (then hands it the request and ends without logging anything),
// and otherwise runs the server manager until an exit command or a signal.
#pragma once

#include <string>

namespace hm {

int RunProgram(int argc, char** argv);

// Name of the command channel: a path in the runtime folder, beside the instance mutex. The channel
// turns it into a short socket name, so a runtime folder of any length works.
std::string InstanceSocketPath();

}  // namespace hm
