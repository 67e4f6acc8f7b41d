#include "servers/game_options_rules.h"

#include <algorithm>

#include "platform/files.h"
#include "servers/game_config_text.h"
#include "servers/global_options_rules.h"
#include "servers/server_config.h"

namespace hm {

namespace {

bool Holds(const std::vector<std::string>& list, const std::string& name) {
    return std::any_of(list.begin(), list.end(),
                       [&](const std::string& entry) { return fs::EqualsIgnoreCase(entry, name); });
}

}  // namespace

std::vector<size_t> MoveItems(std::vector<std::string>& from, std::vector<std::string>& to,
                              const std::vector<size_t>& rows) {
    std::vector<size_t> chosen;
    for (size_t row : rows) {
        if (row < from.size()) chosen.push_back(row);
    }
    std::sort(chosen.begin(), chosen.end());
    chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());

    std::vector<std::string> moved;
    for (size_t row : chosen) {
        if (!Holds(moved, from[row])) moved.push_back(from[row]);
    }
    std::vector<size_t> landed;
    for (const std::string& name : moved) {
        auto it = std::find_if(to.begin(), to.end(),
                               [&](const std::string& entry) { return fs::EqualsIgnoreCase(entry, name); });
        if (it == to.end()) {
            to.push_back(name);
            it = to.end() - 1;
        }
        landed.push_back(static_cast<size_t>(it - to.begin()));
    }
    std::erase_if(from, [&](const std::string& entry) { return Holds(moved, entry); });
    return landed;
}

std::vector<size_t> MoveAllItems(std::vector<std::string>& from, std::vector<std::string>& to) {
    std::vector<size_t> rows(from.size());
    for (size_t i = 0; i < rows.size(); ++i) rows[i] = i;
    return MoveItems(from, to, rows);
}

bool ShipListsAcceptable(const CShipOptions& ships) {
    return !ships.allowedShips.empty() && !Holds(ships.disallowedShips, kLeadShip);
}

TeamOptionsForm TeamOptionsFromConfig(const CServerConfig& config) {
    TeamOptionsForm form;
    form.numTeams = config.game.numTeams;
    form.teamDamage = config.game.teamDamage != 0;
    form.allowTeamChange = config.autoexec.allowTeamChange != 0;
    form.autoBalance = config.autoexec.autoBalance != 0;
    form.minCount = config.autoexec.minCount;
    form.maxCount = config.autoexec.maxCount;
    form.teamNames = config.autoexec.teamNames;
    return form;
}

TeamOptionsCheck CheckTeamOptions(const TeamOptionsForm& form) {
    if (form.minCount < kMinPlayerCount || form.minCount > kMaxPlayerCount) {
        return {TeamOptionsField::MinCount, RangeMessage(kMinPlayerCount, kMaxPlayerCount)};
    }
    if (form.maxCount < form.minCount || form.maxCount > kMaxPlayerCount) {
        return {TeamOptionsField::MaxCount, RangeMessage(form.minCount, kMaxPlayerCount)};
    }
    return {};
}

void WriteTeamOptions(const TeamOptionsForm& form, CServerConfig& config) {
    config.game.teamDamage = form.teamDamage ? 1 : 0;
    config.autoexec.allowTeamChange = form.allowTeamChange ? 1 : 0;
    config.autoexec.autoBalance = form.autoBalance ? 1 : 0;
    config.autoexec.minCount = static_cast<uint32_t>(form.minCount);
    config.autoexec.maxCount = static_cast<uint32_t>(form.maxCount);
    for (size_t i = 0; i < form.teamNames.size(); ++i) {
        // A line break would end the autoexec command early and start another one with the rest.
        std::string name = form.teamNames[i];
        std::replace_if(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }, ' ');
        config.autoexec.teamNames[i] = std::string(Trim(name));
    }
}

}  // namespace hm
