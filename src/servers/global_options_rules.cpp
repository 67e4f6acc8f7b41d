#include "servers/global_options_rules.h"

#include <cstdlib>

namespace hm {

std::string RangeMessage(int64_t low, int64_t high) {
    return "Please enter an integer between " + std::to_string(low) + " and " + std::to_string(high) + ".";
}

bool FieldRange(GlobalOptionsField field, int64_t& low, int64_t& high) {
    switch (field) {
        case GlobalOptionsField::BaseServerPort:
        case GlobalOptionsField::BaseConsolePort: low = 1024, high = 65535; return true;
        case GlobalOptionsField::DefaultPacketsPerSecond: low = 4, high = 99; return true;
        case GlobalOptionsField::DefaultFramesPerSecond: low = 0, high = 999; return true;
        case GlobalOptionsField::DefaultMaxPlayers: low = 2, high = 31; return true;
        case GlobalOptionsField::AutoRestartMinutes: low = 1, high = 10080; return true;
        case GlobalOptionsField::DefaultTimeLimit:
        case GlobalOptionsField::DefaultKillGoal: low = 0, high = 65535; return true;
        case GlobalOptionsField::MaxPlayersAll: low = 0, high = 999; return true;
        default: return false;
    }
}

GlobalOptionsForm FormFromOptions(const CGlobalOptions& options) {
    GlobalOptionsForm form;
    form.options = options;
    form.baseServerPort = options.baseServerPort;
    form.defaultPacketsPerSecond = options.defaultPacketsPerSecond;
    form.defaultFramesPerSecond = options.defaultFramesPerSecond;
    form.defaultMaxPlayers = options.defaultMaxPlayers;
    form.baseConsolePort = options.baseConsolePort;
    form.autoRestartMinutes = PeriodToMinutes(options.autoRestartPeriod);
    form.defaultTimeLimit = options.defaultTimeLimit;
    form.defaultKillGoal = options.defaultKillGoal;
    form.maxPlayersAll = options.maxPlayersAll;
    form.addressFields = AddressFieldsFromText(options.alternateAddress);
    form.region = options.region;
    form.versionCheckTicked = options.versionCheck != 0;
    return form;
}

FieldCheck CheckForm(const GlobalOptionsForm& form) {
    const std::pair<GlobalOptionsField, int64_t> numbers[] = {
        {GlobalOptionsField::BaseServerPort, form.baseServerPort},
        {GlobalOptionsField::DefaultPacketsPerSecond, form.defaultPacketsPerSecond},
        {GlobalOptionsField::DefaultFramesPerSecond, form.defaultFramesPerSecond},
        {GlobalOptionsField::DefaultMaxPlayers, form.defaultMaxPlayers},
        {GlobalOptionsField::BaseConsolePort, form.baseConsolePort},
        {GlobalOptionsField::AutoRestartMinutes, form.autoRestartMinutes},
        {GlobalOptionsField::DefaultTimeLimit, form.defaultTimeLimit},
        {GlobalOptionsField::DefaultKillGoal, form.defaultKillGoal},
        {GlobalOptionsField::MaxPlayersAll, form.maxPlayersAll},
    };
    for (const auto& [field, value] : numbers) {
        int64_t low = 0, high = 0;
        FieldRange(field, low, high);
        if (value < low || value > high) return {field, RangeMessage(low, high)};
    }
    if (form.options.defaultMotd.size() > kMaxMotdLength) {
        return {GlobalOptionsField::DefaultMotd,
                "Please enter no more than " + std::to_string(kMaxMotdLength) + " characters."};
    }
    return {};
}

FieldCheck ApplyForm(const GlobalOptionsForm& form, CGlobalOptions& result) {
    FieldCheck check = CheckForm(form);
    if (!check.ok()) return check;
    CGlobalOptions options = form.options;
    options.baseServerPort = static_cast<uint16_t>(form.baseServerPort);
    options.defaultPacketsPerSecond = static_cast<uint32_t>(form.defaultPacketsPerSecond);
    options.defaultFramesPerSecond = static_cast<uint32_t>(form.defaultFramesPerSecond);
    options.defaultMaxPlayers = static_cast<uint32_t>(form.defaultMaxPlayers);
    options.baseConsolePort = static_cast<uint16_t>(form.baseConsolePort);
    options.autoRestartPeriod = MinutesToPeriod(static_cast<uint32_t>(form.autoRestartMinutes));
    options.defaultTimeLimit = static_cast<uint32_t>(form.defaultTimeLimit);
    options.defaultKillGoal = static_cast<uint32_t>(form.defaultKillGoal);
    options.maxPlayersAll = static_cast<uint32_t>(form.maxPlayersAll);
    options.region = form.region;
    options.alternateAddress = AlternateAddressFromFields(form.addressFields);
    ApplyVersionCheck(form.options.versionCheck, form.versionCheckTicked, options);
    result = options;
    return check;
}

std::string AlternateAddressFromFields(const std::array<uint32_t, 4>& fields) {
    for (uint32_t field : fields) {
        if (field == 0) return std::string();
    }
    return std::to_string(fields[0]) + "." + std::to_string(fields[1]) + "." + std::to_string(fields[2]) + "." +
           std::to_string(fields[3]);
}

std::array<uint32_t, 4> AddressFieldsFromText(const std::string& text) {
    std::array<uint32_t, 4> fields{};
    size_t start = 0;
    for (size_t i = 0; i < fields.size() && start <= text.size(); ++i) {
        size_t dot = text.find('.', start);
        if (dot == std::string::npos) dot = text.size();
        const std::string part = text.substr(start, dot - start);
        fields[i] = static_cast<uint32_t>(std::atoi(part.c_str())) & 0xFF;
        start = dot + 1;
    }
    return fields;
}

void ApplyVersionCheck(uint32_t versionCheckBefore, bool ticked, CGlobalOptions& options) {
    if (versionCheckBefore == 0 && ticked) options.lastVersionCheck = 0;
    options.versionCheck = ticked ? 1 : 0;
}

}  // namespace hm
