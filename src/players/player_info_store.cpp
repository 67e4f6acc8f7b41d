#include "players/player_info_store.h"

#include <algorithm>
#include <cstdio>

#include "platform/clock.h"
#include "platform/files.h"

namespace hm {
namespace {

// Milliseconds from 1601-01-01 to 1970-01-01.
constexpr int64_t kFileTimeEpochMs = 11644473600000LL;
constexpr int64_t kFileTimeUnitsPerMs = 10000;

}  // namespace

uint64_t LocalTimeToFileTime(const LocalTime& time) {
    const int64_t ms = LocalTimeToMs(time) + kFileTimeEpochMs;
    return ms <= 0 ? 0 : static_cast<uint64_t>(ms) * kFileTimeUnitsPerMs;
}

LocalTime FileTimeToLocalTime(uint64_t fileTime) {
    // A stored time comes from a file: keep it within the calendar's years so a damaged value can
    // only show a strange date.
    static const int64_t kLatestMs = LocalTimeToMs(LocalTime{9999, 12, 31, 23, 59, 59, 999, 0});
    const int64_t ms = std::min(static_cast<int64_t>(fileTime / kFileTimeUnitsPerMs) - kFileTimeEpochMs,
                                kLatestMs);
    return MsToLocalTime(ms);
}

int PlayerRecord::AddAddress(const std::string& address, uint64_t now) {
    lastSeen = now;
    if (std::find(addresses.begin(), addresses.end(), address) != addresses.end()) return 0;
    ++ringIndex;
    // A ring index read from a damaged file may be anywhere; the ring must stay within its slots.
    if (ringIndex >= static_cast<int32_t>(kMaxAddresses) || ringIndex < 0) ringIndex = 0;
    if (addresses.size() < kMaxAddresses) {
        addresses.push_back(address);
        current = static_cast<int32_t>(addresses.size() - 1);
    } else {
        addresses[static_cast<size_t>(ringIndex)] = address;
        current = ringIndex;
    }
    return 1;
}

std::string PlayerRecord::TextLine() const {
    const LocalTime seen = FileTimeToLocalTime(lastSeen);
    char date[32];
    std::snprintf(date, sizeof date, "%04u-%02u-%02u ", static_cast<unsigned>(seen.year),
                  static_cast<unsigned>(seen.month), static_cast<unsigned>(seen.day));
    const bool hasCurrent = current >= 0 && static_cast<size_t>(current) < addresses.size();
    std::string line = date + name + " - ";
    if (hasCurrent) line += addresses[static_cast<size_t>(current)];
    for (size_t i = 0; i < addresses.size(); ++i) {
        if (hasCurrent && i == static_cast<size_t>(current)) continue;
        line += ", " + addresses[i];
    }
    line += "\r\n";
    return line;
}

void PlayerRecord::Write(ArchiveWriter& ar) const {
    ar.Dword(kVersion);
    ar.Dword(static_cast<uint32_t>(ringIndex));
    ar.Dword(static_cast<uint32_t>(current));
    ar.String(name);
    ar.Dword(static_cast<uint32_t>(lastSeen & 0xFFFFFFFFu));
    ar.Dword(static_cast<uint32_t>(lastSeen >> 32));
    ar.StringList(addresses);
}

void PlayerRecord::Read(ArchiveReader& ar) {
    uint32_t version = 0;
    if (!ar.Get(version) || version == 0) return;
    ar.Get(ringIndex);
    ar.Get(current);
    ar.GetString(name);
    uint32_t low = 0;
    uint32_t high = 0;
    ar.Get(low);
    ar.Get(high);
    lastSeen = (static_cast<uint64_t>(high) << 32) | low;
    ar.GetStringList(addresses);
}

PlayerInfoStore::PlayerInfoStore(Clock& clock) : clock_(clock) {}

int PlayerInfoStore::Update(const std::string& name, const std::string& address) {
    const uint64_t now = LocalTimeToFileTime(clock_.Now());
    std::string key = fs::FoldCase(name);
    std::lock_guard<std::mutex> guard(lock_);
    auto [it, added] = index_.try_emplace(std::move(key), records_.size());
    if (added) {
        PlayerRecord record;
        record.name = name;
        record.lastSeen = now;
        records_.push_back(std::move(record));
    }
    return records_[it->second].AddAddress(address, now);
}

void PlayerInfoStore::RebuildIndex() {
    index_.clear();
    index_.reserve(records_.size());
    // try_emplace keeps the first: of two records whose names differ only in case (a hand-made or
    // older file), the first one is found, as a search from the front would.
    for (size_t i = 0; i < records_.size(); ++i) index_.try_emplace(fs::FoldCase(records_[i].name), i);
}

std::string PlayerInfoStore::Text() const {
    std::lock_guard<std::mutex> guard(lock_);
    std::string text;
    for (const PlayerRecord& record : records_) text += record.TextLine();
    return text;
}

bool PlayerInfoStore::WriteTextFile(uint32_t now) {
    // The text is taken inside the save lock: of two saves racing, the later one writes the later
    // records, so the file never goes back to an older state.
    const std::string path = TextPath();
    if (path.empty() || !fs::ReplaceFileAtomically(path, Text())) return false;
    textPending_ = false;
    textWritten_ = true;
    lastTextTick_ = now;
    return true;
}

bool PlayerInfoStore::Save() {
    const uint32_t now = clock_.TickCount();
    std::lock_guard<std::mutex> saving(saveLock_);
    textPending_ = true;
    if (TextPath().empty()) return false;
    if (textWritten_ && Elapsed(now, lastTextTick_) < kTextPeriodMs) return true;  // SaveIfDue writes it
    return WriteTextFile(now);
}

bool PlayerInfoStore::SaveIfDue(bool force) {
    const uint32_t now = clock_.TickCount();
    std::lock_guard<std::mutex> saving(saveLock_);
    if (!textPending_) return true;
    if (!force && textWritten_ && Elapsed(now, lastTextTick_) < kTextPeriodMs) return true;
    return WriteTextFile(now);
}

PlayerInfoStore::~PlayerInfoStore() { StopWriter(); }

void PlayerInfoStore::SaveIfDueSoon() {
    std::lock_guard<std::mutex> guard(writerLock_);
    if (writerStopped_) return;
    if (!writer_.joinable()) writer_ = std::thread([this] { WriterLoop(); });
    writerWanted_ = true;
    writerWake_.notify_one();
}

void PlayerInfoStore::StopWriter() {
    std::thread writer;
    {
        std::lock_guard<std::mutex> guard(writerLock_);
        writerStopped_ = true;
        writer = std::move(writer_);
    }
    writerWake_.notify_one();
    if (writer.joinable()) writer.join();
}

void PlayerInfoStore::WriterLoop() {
    std::unique_lock<std::mutex> lock(writerLock_);
    for (;;) {
        writerWake_.wait(lock, [this] { return writerWanted_ || writerStopped_; });
        if (writerStopped_) return;
        writerWanted_ = false;
        lock.unlock();
        SaveIfDue(false);
        lock.lock();
    }
}

void PlayerInfoStore::SetTextPath(const std::string& path) {
    std::lock_guard<std::mutex> guard(lock_);
    textPath_ = path;
}

std::string PlayerInfoStore::TextPath() const {
    std::lock_guard<std::mutex> guard(lock_);
    return textPath_;
}

std::vector<PlayerRecord> PlayerInfoStore::Records() const {
    std::lock_guard<std::mutex> guard(lock_);
    return records_;
}

size_t PlayerInfoStore::Count() const {
    std::lock_guard<std::mutex> guard(lock_);
    return records_.size();
}

void PlayerInfoStore::WriteRecords(ArchiveWriter& ar, const std::vector<PlayerRecord>& records) {
    ar.Dword(kVersion);
    ar.Count(records.size());
    for (const PlayerRecord& record : records) record.Write(ar);
}

std::string PlayerInfoStore::Serialize() const {
    const std::vector<PlayerRecord> records = Records();
    std::string bytes;
    {
        ArchiveWriter ar(&bytes);
        WriteRecords(ar, records);
    }
    return bytes;
}

void PlayerInfoStore::ReadFrom(ArchiveReader& ar) {
    std::vector<PlayerRecord> read;
    uint32_t version = 0;
    uint32_t count = 0;
    // Every record holds at least its version dword; records are appended only once read whole, so
    // a damaged count cannot allocate more than the file holds.
    if (ar.Get(version) && version != 0 && ar.GetCount(count, 4)) {
        for (uint32_t i = 0; i < count; ++i) {
            PlayerRecord record;
            record.Read(ar);
            if (ar.Failed()) break;
            read.push_back(std::move(record));
        }
    }
    std::lock_guard<std::mutex> guard(lock_);
    records_ = std::move(read);
    RebuildIndex();
}

StoreLoad PlayerInfoStore::Load(const std::string& configFolder, const std::string& logFolder,
                                ProgressSteps* progress) {
    if (progress) progress->Step("Loading player infos...");
    SetTextPath(StorePath(logFolder, kTextName));
    return LoadStoreFile(StorePath(configFolder, kFileName),
                         [this](ArchiveReader& ar) { ReadFrom(ar); }, fileState_);
}

bool PlayerInfoStore::Store(const std::string& configFolder, ProgressSteps* progress) {
    SaveIfDue(true);
    const std::vector<PlayerRecord> records = Records();
    return StoreStoreFile(StorePath(configFolder, kFileName), progress, "Storing player infos...",
                          [&](ArchiveWriter& ar) { WriteRecords(ar, records); }, fileState_);
}

}  // namespace hm
