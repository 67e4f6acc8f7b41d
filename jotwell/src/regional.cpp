#include "regional.h"

#include <cstdio>

#include "platform/registry.h"
#include "writer.h"

namespace hm::jotwell {

namespace {

struct RegionalValue {
    const char* name;
    const char* text;
};

constexpr RegionalValue kValues[] = {
    {"sDate", "-"}, {"sShortDate", "yyyy-MM-dd"}, {"sLongDate", "dddd yyyy-MM-dd"}, {"sTime", ":"},
    {"sTimeFormat", "HH:mm:ss"},
};

int SetValues(const std::string& prefix, const Work& work, const char* root, const char* keyPath) {
    Work messages = work;
    const bool quiet = (work.logOptions & LO_QUIET_REGISTRY) != 0;
    const std::string key = std::string(root) + "\\" + keyPath;
    auto error = [&](const std::string& text) {
        std::fprintf(stderr, "%s\n", text.c_str());
        std::fflush(stderr);
        if (!quiet) WriteOwnMessage(prefix, messages, text);
    };

    Registry registry;
    if (registry.Path().empty()) {
        error(Format("Error opening registry key '%s\\%s'.", root, keyPath));
        return JOTWELL_FILE_ERROR;
    }
    for (const RegionalValue& v : kValues) {
        RegValue value;
        value.type = RegType::String;
        value.text = v.text;
        if (registry.Write(key, v.name, value)) {
            const bool always = std::string(v.name) == "sTimeFormat";
            if (!quiet || always) {
                WriteOwnMessage(prefix, messages,
                                Format("Value '%s' in '%s\\%s' set to '%s'.", v.name, root, keyPath, v.text));
            }
        } else {
            error(Format("Error setting value '%s' in '%s\\%s'.", v.name, root, keyPath));
        }
    }
    return 0;
}

}  // namespace

int ApplyRegionalSettings(const std::string& prefix, const Work& work) {
    int result = 0;
    if (work.logOptions & LO_USER_ISO_DATE) {
        if (SetValues(prefix, work, "HKEY_CURRENT_USER", "Control Panel\\International") < 0) result = JOTWELL_FILE_ERROR;
    }
    if (work.logOptions & LO_REG_ISO_DATE) {
        if (SetValues(prefix, work, "HKEY_USERS", ".DEFAULT\\Control Panel\\International") < 0) result = JOTWELL_FILE_ERROR;
    }
    return result;
}

}  // namespace hm::jotwell
