#include "servers/server_config_rules.h"

namespace hm {

std::string MotdTooLongMessage() {
    return "Please enter no more than " + std::to_string(kMaxMotdLength) + " characters.";
}

ServerConfigForm FormFromConfig(const CServerConfig& config) {
    ServerConfigForm form;
    form.config = config;
    form.timeLimit = config.game.timeLimit;
    form.killGoal = config.game.killGoal;
    form.tauntDelay = config.game.audioTauntDelay;
    form.minRespawn = config.game.minRespawnTime;
    form.maxRespawn = config.game.maxRespawnTime;
    form.serverPort = config.launch.serverPort;
    form.packetsPerSecond = config.game.packetsPerSecond;
    form.framesPerSecond = config.launch.framesPerSecond;
    return form;
}

bool ServerConfigFieldRange(const ServerConfigForm& form, ServerConfigField field, int64_t& low, int64_t& high) {
    switch (field) {
        case ServerConfigField::TimeLimit:
        case ServerConfigField::KillGoal:
        case ServerConfigField::TauntDelay: low = 0, high = 65535; return true;
        case ServerConfigField::MinRespawn: low = 0, high = 999; return true;
        // Checked after the minimum, so the minimum is known to lie in 0 to 999 here.
        case ServerConfigField::MaxRespawn: low = form.minRespawn, high = 999; return true;
        case ServerConfigField::ServerPort: low = 1024, high = 65535; return true;
        case ServerConfigField::PacketsPerSecond: low = 4, high = 99; return true;
        case ServerConfigField::FramesPerSecond: low = 0, high = 999; return true;
        default: return false;
    }
}

ServerConfigCheck CheckForm(const ServerConfigForm& form) {
    if (form.config.game.gameName.empty()) return {ServerConfigField::Name, kServerNameMissingText};
    const std::pair<ServerConfigField, int64_t> numbers[] = {
        {ServerConfigField::TimeLimit, form.timeLimit},
        {ServerConfigField::KillGoal, form.killGoal},
        {ServerConfigField::TauntDelay, form.tauntDelay},
        {ServerConfigField::MinRespawn, form.minRespawn},
        {ServerConfigField::MaxRespawn, form.maxRespawn},
        {ServerConfigField::ServerPort, form.serverPort},
        {ServerConfigField::PacketsPerSecond, form.packetsPerSecond},
        {ServerConfigField::FramesPerSecond, form.framesPerSecond},
    };
    for (const auto& [field, value] : numbers) {
        int64_t low = 0, high = 0;
        ServerConfigFieldRange(form, field, low, high);
        if (value < low || value > high) return {field, RangeMessage(low, high)};
    }
    if (form.config.game.motd.size() > kMaxMotdLength) return {ServerConfigField::Motd, MotdTooLongMessage()};
    return {};
}

ServerConfigCheck ApplyForm(ServerConfigForm& form) {
    ServerConfigCheck check = CheckForm(form);
    if (!check.ok()) return check;
    CGameSettings& game = form.config.game;
    game.timeLimit = static_cast<uint32_t>(form.timeLimit);
    game.killGoal = static_cast<uint32_t>(form.killGoal);
    game.audioTauntDelay = static_cast<uint32_t>(form.tauntDelay);
    game.minRespawnTime = static_cast<uint32_t>(form.minRespawn);
    game.maxRespawnTime = static_cast<uint32_t>(form.maxRespawn);
    game.packetsPerSecond = static_cast<uint32_t>(form.packetsPerSecond);
    form.config.launch.serverPort = static_cast<uint16_t>(form.serverPort);
    form.config.launch.framesPerSecond = static_cast<uint32_t>(form.framesPerSecond);
    return check;
}

const std::vector<ListChoice>& MaxPlayersChoices() {
    static const std::vector<ListChoice> choices = [] {
        std::vector<ListChoice> list;
        for (uint32_t shown = kMinShownMaxPlayers; shown <= kMaxShownMaxPlayers; ++shown) {
            list.push_back({std::to_string(shown), MaxPlayersStored(shown)});
        }
        return list;
    }();
    return choices;
}

const std::vector<ListChoice>& TeamCountChoices() {
    static const std::vector<ListChoice> choices = {{"None", 0}, {"2", 2}, {"3", 3}, {"4", 4}};
    return choices;
}

const std::vector<ListChoice>& DifficultyChoices() {
    static const std::vector<ListChoice> choices = {
        {"Very easy", 0}, {"Easy", 1}, {"Normal", 2}, {"Hard", 3}, {"Very hard", 4}};
    return choices;
}

const std::vector<ListChoice>& ConnectionModelChoices() {
    static const std::vector<ListChoice> choices = {
        {"Client/server", kClientServer}, {"Permissible", kPermissible}, {"Peer to peer", kPeerToPeer}};
    return choices;
}

int ChoiceIndex(const std::vector<ListChoice>& choices, int64_t value) {
    for (size_t i = 0; i < choices.size(); ++i) {
        if (choices[i].value == value) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace hm
