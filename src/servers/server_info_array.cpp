#include "servers/server_info_array.h"

#include "platform/files.h"

namespace hm {

std::unique_ptr<Process> CServerInfoArray::DefaultAttach(uint32_t pid, const CServerConfig& config) {
    if (config.launch.tempDir.empty()) return nullptr;
    const std::string cacheFolder = fs::ToPosixPath(config.launch.tempDir);
    if (pid != 0) {
        if (std::unique_ptr<Process> process = Process::Attach(pid, cacheFolder)) return process;
    }
    // The list on disk can lag one launch behind the process: the program may have died between
    // starting a server and storing its identifier. The server still names its cache folder.
    return Process::FindByArgument(cacheFolder);
}

void CServerInfoArray::WriteTo(ArchiveWriter& ar) {
    ar.Dword(1);
    ar.Count(entries.size());
    for (auto& entry : entries) entry->Write(ar);
}

void CServerInfoArray::ReadFrom(ArchiveReader& ar, const AttachFunction& attach) {
    entries.clear();
    ReadStoreList(ar, entries, [](ArchiveReader& reader, std::unique_ptr<CServerInfo>& entry) {
        entry = std::make_unique<CServerInfo>();
        entry->Read(reader);
    });
    for (auto& entry : entries) {
        // Every entry, also one stored without a process or as stopped on purpose: its launch may
        // have come after the last store. A restart stores the halted entry before it launches, so a
        // program killed in between leaves a running server behind an entry stopped on purpose;
        // not taking it back would leave it unsupervised and start a second one on its port.
        entry->process = attach ? attach(entry->processId, entry->config)
                                : DefaultAttach(entry->processId, entry->config);
        if (entry->process) {
            entry->processId = entry->process->Pid();
            entry->threadId = 0;
            entry->stoppedOnPurpose = 0;  // as after every launch
        } else {
            entry->processId = 0;
        }
    }
}

std::string CServerInfoArray::Serialize() {
    std::string bytes;
    {
        ArchiveWriter ar(&bytes);
        WriteTo(ar);
    }
    return bytes;
}

StoreLoad CServerInfoArray::Load(const std::string& configFolder, ProgressSteps* progress,
                                 const AttachFunction& attach) {
    if (progress) progress->Step("Loading server infos...");
    return LoadStoreFile(
        StorePath(configFolder, kFileName), [&](ArchiveReader& ar) { ReadFrom(ar, attach); }, fileState_);
}

bool CServerInfoArray::Store(const std::string& configFolder, ProgressSteps* progress) {
    return StoreStoreFile(
        StorePath(configFolder, kFileName), progress, "Storing server infos...", [this](ArchiveWriter& ar) { WriteTo(ar); },
        fileState_);
}

}  // namespace hm
