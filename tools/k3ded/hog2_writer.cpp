#include "hog2_writer.h"

namespace hm::k3ded {

namespace {
void PutU32(std::string& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
}  // namespace

bool BuildHog2(const std::vector<Hog2File>& files, std::string& archive, uint32_t timeStamp) {
    for (const Hog2File& f : files)
        if (f.name.empty() || f.name.size() > kHog2MaxName || f.name.find('\0') != std::string::npos) return false;
    const size_t dataOffset = kHog2HeaderSize + kHog2EntrySize * files.size();
    std::string out(dataOffset, '\0');
    out.replace(0, 4, "HOG2");
    PutU32(out, 4, static_cast<uint32_t>(files.size()));
    PutU32(out, 8, static_cast<uint32_t>(dataOffset));
    for (size_t i = 12; i < kHog2HeaderSize; ++i) out[i] = static_cast<char>(0xFF);
    for (size_t i = 0; i < files.size(); ++i) {
        const size_t entry = kHog2HeaderSize + kHog2EntrySize * i;
        out.replace(entry, files[i].name.size(), files[i].name);
        PutU32(out, entry + 36, 0);
        PutU32(out, entry + 40, static_cast<uint32_t>(files[i].data.size()));
        PutU32(out, entry + 44, timeStamp);
    }
    for (const Hog2File& f : files) out += f.data;
    archive.swap(out);
    return true;
}

}  // namespace hm::k3ded
