// The registry file (a .reg export, possibly written by another program or by hand): read, listed,
// and changed by one write, which must keep every other value as it was read and store the new one.
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "platform/registry.h"

namespace {

constexpr const char* kGameKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Brannock\\Kelvane3";

bool Same(const hm::RegValue& a, const hm::RegValue& b) {
    return a.type == b.type && a.text == b.text && a.dword == b.dword && a.binary == b.binary;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = hm::fuzz::ScratchFile("registry.reg", data, size);
    hm::Registry registry(path);
    registry.KeyExists(kGameKey);
    registry.SubKeys("HKEY_LOCAL_MACHINE\\SOFTWARE");
    const auto keys = registry.SubKeys("HKEY_LOCAL_MACHINE\\SOFTWARE\\Brannock");
    hm::RegValue base, version;
    const bool hasBase = registry.Read(kGameKey, "BaseDirectory", base);
    const bool hasVersion = registry.Read(std::string(kGameKey) + "\\Version", "Version", version);

    if (!registry.Write(kGameKey, "Haldmoor3UseGlobalJotwell", hm::RegValue::Dword(1))) return 0;
    hm::RegValue written;
    if (!registry.Read(kGameKey, "Haldmoor3UseGlobalJotwell", written) || !Same(written, hm::RegValue::Dword(1)))
        std::abort();  // the write did not land
    hm::RegValue after;
    if (registry.Read(kGameKey, "BaseDirectory", after) != hasBase || (hasBase && !Same(after, base))) std::abort();
    if (registry.Read(std::string(kGameKey) + "\\Version", "Version", after) != hasVersion ||
        (hasVersion && !Same(after, version)))
        std::abort();  // another value changed under the write
    if (registry.SubKeys("HKEY_LOCAL_MACHINE\\SOFTWARE\\Brannock").size() < keys.size()) std::abort();
    return 0;
}
