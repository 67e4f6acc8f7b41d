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
    lastDamagedPath_.clear();
    const std::string path = StorePath(configFolder, kFileName);
    ArchiveReader ar;
    if (!ar.OpenFile(path)) return StoreLoad::Absent;
    ReadFrom(ar);
    ar.Close();
    if (!ar.Failed()) return StoreLoad::Loaded;
    lastDamagedPath_ = KeepDamagedFile(path);
    storeBlocked_ = lastDamagedPath_.empty();
    return StoreLoad::Damaged;
}

bool CServerConfigArray::Store(const std::string& configFolder, ProgressSteps* progress) {
    if (storeBlocked_) return false;
    fs::AtomicFileWriter file;
    if (!file.Open(StorePath(configFolder, kFileName))) return false;
    if (progress) progress->Step("Storing server configurations...");
    ArchiveWriter ar(&file);
    WriteTo(ar);
    if (!ar.Flush()) {
        file.Abandon();
        return false;
    }
    return file.Commit();
}

}  // namespace hm
