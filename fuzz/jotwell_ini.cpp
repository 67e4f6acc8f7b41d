// The logging library's configuration file, read as the library reads it: parsed, then the section
// of a prefix and the "Default" section turned into options and limits.
#include <cstdlib>
#include <string>

#include "config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    hm::jotwell::IniFile ini;
    ini.Parse(std::string(reinterpret_cast<const char*>(data), size));
    for (const char* section : {"Default", "haldmoor3", "server"}) {
        hm::jotwell::ReadSectionSettings(ini, section);
        for (const char* key : {"MaxLogs", "MaxSize", "MinLines"}) {
            const auto value = ini.Value(section, key);
            if (value && value->size() > 49) std::abort();  // values are cut to 49 characters
        }
    }
    return 0;
}
