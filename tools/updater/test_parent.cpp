// updater-test-parent: plays the program for the updater's tests. A copy of it stands in as the
// program file, because the updater only ever works on the file its parent runs.
//
//   updater-test-parent launch UPDATER NAME NEWFILE TARGET [PROGRAM-ARGUMENTS...]
//       holds the mutex NAME open as the program does, starts UPDATER as the program starts it, keeps
//       the mutex a while longer (so the updater has to wait for it) and ends.
//   updater-test-parent marker FILE NAME [WORDS...]
//       what the restarted program does: writes FILE with its current folder, its XDG_RUNTIME_DIR,
//       "alone" or "not alone" (whether anybody else had NAME open) and all its arguments, one a line.
//   updater-test-parent key
//       prints the update signing key built into it (the build's test key).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/named_mutex.h"
#include "platform/process.h"
#include "update/update_signature.h"
#include "update_signing_key.h"

namespace {

int Launch(int argc, char** argv) {
    hm::NamedMutex instance;
    bool another = false;
    if (!instance.Create(argv[3], &another) || another) {
        std::fprintf(stderr, "updater-test-parent: cannot be the only holder of the mutex\n");
        return 3;
    }
    std::vector<std::string> arguments = {argv[3], argv[4], argv[5], "/A", "/E"};
    arguments.insert(arguments.end(), argv + 6, argv + argc);
    std::string why;
    auto updater = hm::Process::SpawnInheriting(argv[2], arguments, &why);
    if (!updater) {
        std::fprintf(stderr, "updater-test-parent: %s\n", why.c_str());
        return 3;
    }
    // Long enough that an updater that did not wait would start the program while we still run.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return 0;
}

int Marker(int argc, char** argv) {
    hm::NamedMutex probe;
    bool another = true;
    const bool opened = probe.Create(argv[3], &another);
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string text = hm::fs::CurrentDirectory() + "\n" + (runtime ? runtime : "") + "\n" +
                       (opened && !another ? "alone" : "not alone") + "\n";
    for (int i = 1; i < argc; ++i) text += std::string(argv[i]) + "\n";
    return hm::fs::ReplaceFileAtomically(argv[2], text) ? 0 : 3;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "launch" && argc >= 6) return Launch(argc, argv);
    if (mode == "marker" && argc >= 4) return Marker(argc, argv);
    if (mode == "key" && argc == 2) {
        std::printf("%s\n", hm::UpdateKeyHex(hm::kUpdateSigningKey).c_str());
        return 0;
    }
    std::fprintf(stderr, "usage: updater-test-parent launch|marker|key ...\n");
    return 2;
}
