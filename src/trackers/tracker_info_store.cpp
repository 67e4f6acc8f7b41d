#include "trackers/tracker_info_store.h"

#include <algorithm>

#include "platform/files.h"

namespace hm {

void TrackerInfo::Write(ArchiveWriter& ar) const {
    ar.Dword(kVersion);
    ar.String(key);
    ar.String(value);
    ar.String(extra);
}

void TrackerInfo::Read(ArchiveReader& ar) {
    uint32_t version = 0;
    if (!ar.Get(version) || version == 0) return;
    ar.GetString(key);
    ar.GetString(value);
    ar.GetString(extra);
}

bool TrackerInfoStore::Set(const std::string& key, const std::string& value) {
    std::lock_guard<std::mutex> guard(lock_);
    const auto it = std::find_if(entries_.begin(), entries_.end(),
                                 [&](const TrackerInfo& entry) { return entry.key == key; });
    if (it != entries_.end()) {
        it->value = value;
    } else {
        entries_.push_back(TrackerInfo{key, value, std::string()});
    }
    return true;
}

bool TrackerInfoStore::Remove(const std::string& key) {
    std::lock_guard<std::mutex> guard(lock_);
    const auto it = std::find_if(entries_.begin(), entries_.end(),
                                 [&](const TrackerInfo& entry) { return entry.key == key; });
    if (it == entries_.end()) return false;
    entries_.erase(it);
    return true;
}

std::vector<TrackerInfo> TrackerInfoStore::Entries() const {
    std::lock_guard<std::mutex> guard(lock_);
    return entries_;
}

size_t TrackerInfoStore::Count() const {
    std::lock_guard<std::mutex> guard(lock_);
    return entries_.size();
}

void TrackerInfoStore::WriteEntries(ArchiveWriter& ar, const std::vector<TrackerInfo>& entries) {
    ar.Dword(kVersion);
    ar.Count(entries.size());
    for (const TrackerInfo& entry : entries) entry.Write(ar);
}

std::string TrackerInfoStore::Serialize() const {
    const std::vector<TrackerInfo> entries = Entries();
    std::string bytes;
    {
        ArchiveWriter ar(&bytes);
        WriteEntries(ar, entries);
    }
    return bytes;
}

void TrackerInfoStore::ReadFrom(ArchiveReader& ar) {
    std::vector<TrackerInfo> read;
    ReadStoreList(ar, read, [](ArchiveReader& reader, TrackerInfo& entry) { entry.Read(reader); });
    std::lock_guard<std::mutex> guard(lock_);
    entries_ = std::move(read);
}

StoreLoad TrackerInfoStore::Load(const std::string& configFolder, ProgressSteps* progress) {
    if (progress) progress->Step("Loading tracker infos...");
    const StoreLoad loaded =
        LoadStoreFile(StorePath(configFolder, kFileName), [this](ArchiveReader& ar) { ReadFrom(ar); }, fileState_);
    // A damaged file no longer stands in the store's place; an unreadable one is never written over.
    if (loaded == StoreLoad::Loaded) fileHoldsEntries_ = Count() > 0;
    if (loaded == StoreLoad::Damaged) fileHoldsEntries_ = false;
    return loaded;
}

bool TrackerInfoStore::Store(const std::string& configFolder, ProgressSteps* progress) {
    if (fileState_.storeBlocked) return false;
    std::vector<TrackerInfo> entries;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (entries_.empty() && !fileHoldsEntries_) return true;
        entries = entries_;
    }
    if (!StoreStoreFile(StorePath(configFolder, kFileName), progress, "Storing tracker infos...",
                        [&](ArchiveWriter& ar) { WriteEntries(ar, entries); }, fileState_)) {
        return false;
    }
    fileHoldsEntries_ = !entries.empty();
    return true;
}

}  // namespace hm
