#include "servers/server_config_array.h"

#include "platform/files.h"

namespace hm {

void CServerConfigArray::WriteTo(ArchiveWriter& ar) {
    globalOptions.Write(ar);
    ar.Dword(1);
    ar.Count(configs.size());
    for (CServerConfig& config : configs) config.Write(ar);
}

void CServerConfigArray::ReadFrom(ArchiveReader& ar) {
    globalOptions.Read(ar);
    configs.clear();
    ReadStoreList(ar, configs, [](ArchiveReader& reader, CServerConfig& config) { config.Read(reader); });
}

std::string CServerConfigArray::Serialize() {
    std::string bytes;
    {
        ArchiveWriter ar(&bytes);
        WriteTo(ar);
    }
    return bytes;
}

StoreLoad CServerConfigArray::Load(const std::string& configFolder, ProgressSteps* progress) {
    if (progress) progress->Step("Loading server configurations...");
    return LoadStoreFile(StorePath(configFolder, kFileName), [&](ArchiveReader& ar) { ReadFrom(ar); }, fileState_);
}

bool CServerConfigArray::Store(const std::string& configFolder, ProgressSteps* progress) {
    return StoreStoreFile(
        StorePath(configFolder, kFileName), progress, "Storing server configurations...", [this](ArchiveWriter& ar) { WriteTo(ar); },
        fileState_);
}

}  // namespace hm
