// The servers under supervision and their store file "ServerInfo.dat" in the configuration folder, so
// that a restarted program finds the game servers it left running.
//
// Owned by the server manager; loaded at start-up and stored at shutdown and every 15 minutes on the
// user-interface thread. Entries are added and removed under the server list lock; worker threads only
// read them. A stored process identifier is never taken on trust: re-attaching checks that the process
// still is this server (its command line names the server's cache folder), so a pid that was reused by
// an unrelated program is never signalled.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/process.h"
#include "servers/progress.h"
#include "servers/server_info.h"
#include "servers/store_file.h"

namespace hm {

class CServerInfoArray {
public:
    static constexpr const char* kFileName = "ServerInfo.dat";
    // Re-attaches a stored process identifier for the entry's configuration; null refuses.
    using AttachFunction = std::function<std::unique_ptr<Process>(uint32_t pid, const CServerConfig& config)>;

    std::vector<std::unique_ptr<CServerInfo>> entries;

    // The attach used when none is given: refuses without a cache folder (nothing could prove the
    // identity), else attaches the stored pid when its command line names the folder, or else the
    // process that has the folder as an argument (a launch the list did not record yet).
    static std::unique_ptr<Process> DefaultAttach(uint32_t pid, const CServerConfig& config);

    // attach empty: DefaultAttach, called for every entry (pid 0 when none was stored). An attached
    // entry holds the process, takes its pid, has thread id 0 and is no longer stopped on purpose
    // (it was launched after the store); an entry whose process could not be attached gets process
    // id 0 (it counts as never started).
    StoreLoad Load(const std::string& configFolder, ProgressSteps* progress, const AttachFunction& attach = {});
    bool Store(const std::string& configFolder, ProgressSteps* progress);

    const std::string& LastDamagedPath() const { return fileState_.lastDamagedPath; }
    // How the last load and write of the file went (see store_file.h).
    StoreFileState& FileState() { return fileState_; }

    std::string Serialize();
    // Reads the list; re-attaches each completely read entry. The reader's Failed() tells about damage.
    void ReadFrom(ArchiveReader& ar, const AttachFunction& attach = {});

private:
    void WriteTo(ArchiveWriter& ar);

    StoreFileState fileState_;
};

}  // namespace hm
