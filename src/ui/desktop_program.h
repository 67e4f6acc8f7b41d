// The desktop front-end of the program: the Qt application, the main window and the server manager
// run on this thread until the window closes; then the shutdown sequence runs.
//
// Called by the process's start (RunProgram) when a display is available and --headless was not
// given. The command channel serves `--send` as in the headless program, and a second plain start
// brings the window to the front.
#pragma once

namespace hm {

class JotwellBinding;
class Registry;
struct UpdateTuning;

int RunDesktop(int argc, char** argv, JotwellBinding& jotwell, Registry& registry, const UpdateTuning& update);

}  // namespace hm
