#include "servers/game_settings.h"

#include <algorithm>

#include "servers/text_block.h"

namespace hm {

namespace {

// The initial object lists, one block per list; the disallowed list of "Others" starts empty.
const char kPrimaryAllowed[] =
    "Superlaser\0" "Vauss\0" "MassDriver\0" "Napalm\0" "EMDlauncher\0" "Plasmacannon\0" "Microwave\0"
    "Fusioncannon\0";
const char kPrimaryDisallowed[] = "Omegacannon\0";
const char kSecondaryAllowed[] =
    "Concussion\0" "ImpactMortar\0" "Frag\0" "NapalmRocket\0" "Homing\0" "Cyclone\0" "Smart\0" "Mega\0"
    "Blackshark\0" "4packConc\0" "4packFrag\0" "4packHoming\0";
const char kSecondaryDisallowed[] = "Guided\0" "4packGuided\0";
const char kPowerupsAllowed[] =
    "Energy\0" "Shield\0" "Afterburner\0" "QuadLaser\0" "Vauss clip\0" "MassDriverAmmo\0" "NapalmTank\0";
const char kPowerupsDisallowed[] =
    "Converter\0" "Rapidfire\0" "HeadlightPowerup\0" "Cloak\0" "Invisiblepowerup\0" "Invulnerability\0"
    "Chaff\0" "ProxMinePowerup\0" "Seeker3pack\0" "Betty4pack\0" "GunboyPowerup\0";
const char kOthersAllowed[] =
    "Hoardorb\0" "FlagBlue\0" "FlagRed\0" "Mystery\0" "Sweitzer\0" "HyperOrb\0" "FlagYellow\0" "FlagGreen\0"
    "KeyCardIndustrial\0" "Virus Sample\0" "ShipBlueFlag\0" "ShipRedFlag\0" "ShipYellowFlag\0"
    "ShipGreenFlag\0" "Forcefieldpasskey1\0" "Blackbox\0" "Builders' Icon\0" "Collectors' Icon\0"
    "Priest's Icon\0" "BuddyWingnut\0" "BuddyAssist\0" "BuddySpeed\0" "BuddyExtinguisher\0"
    "BuddyControl\0" "BuddyAntivirus\0" "Powerball\0" "Fuse\0" "Sanctumkey\0" "Enginepieceblower\0"
    "Enginepiecesquare\0" "G-1 Security Pass\0" "R-1 Security Pass\0" "Y-1 Security Pass\0"
    "Data Cartridge\0" "Damkey\0" "Bivouackey\0" "Rgcartridge\0" "Level0key\0" "Lev1badkey\0"
    "X-1 Security Pass\0" "Landpoint\0" "Seismic Disruptor\0" "Anti-Virus Program\0" "Emitter Lens\0"
    "Bypass Connector\0" "Data Journal\0" "ThiefAutoMap\0" "Camera Monitor\0" "Covert Transmitter\0"
    "EntropyVirus\0" "Recon Interface\0" "Damkey-2\0" "Damkey-3\0" "Damkey-4\0" "Memoryplasma\0"
    "Equipment Room Key\0" "Data Vault Key\0" "Data Interface\0";
const char kOthersDisallowed[] = "";

const char kDefaultShips[] = "Ember-GL\0" "Phoenix\0" "Magnum-AHT\0" "Black Ember\0";

}  // namespace

const char* const kPowerupCategoryLabels[kPowerupCategoryCount] = {"Primary weapons", "Secondary weapons",
                                                                   "Powerups", "Others"};

std::array<PowerupCategory, kPowerupCategoryCount> DefaultPowerupCategories() {
    std::array<PowerupCategory, kPowerupCategoryCount> categories;
    categories[kPrimaryWeapons] = {TextBlockToList(kPrimaryAllowed), TextBlockToList(kPrimaryDisallowed)};
    categories[kSecondaryWeapons] = {TextBlockToList(kSecondaryAllowed), TextBlockToList(kSecondaryDisallowed)};
    categories[kPowerups] = {TextBlockToList(kPowerupsAllowed), TextBlockToList(kPowerupsDisallowed)};
    categories[kOthers] = {TextBlockToList(kOthersAllowed), TextBlockToList(kOthersDisallowed)};
    return categories;
}

// ---- CGameSettings ----

CGameSettings::CGameSettings() : powerups(DefaultPowerupCategories()) {}

void CGameSettings::Write(ArchiveWriter& ar) const {
    ar.Dword(kVersion);
    ar.Dword(static_cast<uint32_t>(connectionKind));
    ar.Dword(packetsPerSecond);
    ar.Dword(timeLimit);
    ar.Dword(killGoal);
    ar.Dword(maxPlayers);
    ar.String(multiSettingsFile);
    ar.String(gameName);
    ar.String(missionTitle);
    ar.String(missionFileName);
    ar.String(scriptName);
    ar.String(connectionName);
    ar.Dword(startLevel);
    ar.Dword(difficulty);
    ar.Word(gameSpyPort);
    ar.Dword(numTeams);
    ar.Dword(teamDamage);
    ar.Dword(accurateCollisions);
    ar.Dword(sendRotVel);
    ar.Dword(brightPlayers);
    ar.Dword(static_cast<uint32_t>(peerMode));
    ar.Dword(useSmoothing);
    ar.Dword(allowMouselook);
    ar.Dword(allowRemoteConsole);
    ar.Word(remoteConsolePort);
    ar.String(consolePassword);
    ar.Dword(remoteAdmin);
    ar.String(remoteAdminPassword);
    ar.Dword(allowAudioTaunts);
    ar.Dword(audioTauntDelay);
    ar.Dword(randomizeRespawn);
    ar.Dword(minRespawnTime);
    ar.Dword(maxRespawnTime);
    ar.String(lobbyUserName);
    ar.String(lobbyPassword);
    ar.String(hostingLobby);
    ar.String(motd);
    for (const PowerupCategory& category : powerups) {
        ar.StringList(category.allowed);
        ar.StringList(category.disallowed);
    }
    ar.Dword(customDescription);
    ar.Dword(missionLevelCount);
    ar.Dword(selective);
    ar.Dword(targetMaxPlayers);
    ar.Dword(appliedMaxPlayers);
    ar.Dword(autoLaunchAllowed);
}

void CGameSettings::Read(ArchiveReader& ar) {
    minuteTicks = 0;
    repeatMinutes = 0;
    uint32_t version = 0;
    if (!ar.Get(version) || version == 0) return;
    ar.Get(connectionKind);
    ar.Get(packetsPerSecond);
    ar.Get(timeLimit);
    ar.Get(killGoal);
    ar.Get(maxPlayers);
    ar.GetString(multiSettingsFile);
    ar.GetString(gameName);
    ar.GetString(missionTitle);
    ar.GetString(missionFileName);
    ar.GetString(scriptName);
    ar.GetString(connectionName);
    ar.Get(startLevel);
    ar.Get(difficulty);
    ar.Get(gameSpyPort);
    ar.Get(numTeams);
    ar.Get(teamDamage);
    ar.Get(accurateCollisions);
    ar.Get(sendRotVel);
    ar.Get(brightPlayers);
    ar.Get(peerMode);
    ar.Get(useSmoothing);
    ar.Get(allowMouselook);
    ar.Get(allowRemoteConsole);
    ar.Get(remoteConsolePort);
    ar.GetString(consolePassword);
    ar.Get(remoteAdmin);
    ar.GetString(remoteAdminPassword);
    ar.Get(allowAudioTaunts);
    ar.Get(audioTauntDelay);
    ar.Get(randomizeRespawn);
    ar.Get(minRespawnTime);
    ar.Get(maxRespawnTime);
    ar.GetString(lobbyUserName);
    ar.GetString(lobbyPassword);
    ar.GetString(hostingLobby);
    ar.GetString(motd);
    for (PowerupCategory& category : powerups) {
        ar.GetStringList(category.allowed);
        ar.GetStringList(category.disallowed);
    }
    if (version >= 2) {
        ar.Get(customDescription);
        ar.Get(missionLevelCount);
    }
    if (version >= 3) ar.Get(selective);
    if (version >= 4) ar.Get(targetMaxPlayers);
    if (version >= 5) ar.Get(appliedMaxPlayers);
    if (version >= 6) ar.Get(autoLaunchAllowed);
}

// ---- CShipOptions ----

CShipOptions::CShipOptions() : allowedShips(TextBlockToList(kDefaultShips)) {}

void CShipOptions::Write(ArchiveWriter& ar) const {
    ar.Dword(kVersion);
    ar.StringList(allowedShips);
    ar.StringList(disallowedShips);
}

void CShipOptions::Read(ArchiveReader& ar) {
    uint32_t version = 0;
    if (!ar.Get(version) || version == 0) return;
    ar.GetStringList(allowedShips);
    ar.GetStringList(disallowedShips);
}

// ---- CAutoexecSettings ----

void CAutoexecSettings::Write(ArchiveWriter& ar) const {
    ar.Dword(kVersion);
    ar.Dword(allowTeamChange);
    ar.Dword(autoBalance);
    ar.Dword(autoSaveDisconnect);
    ar.Dword(autoSaveLevel);
    ar.Dword(minCount);
    ar.Dword(maxCount);
    ar.String(serverHudNames);
    ar.String(killMsgFilter);
    ar.StringList(std::vector<std::string>(teamNames.begin(), teamNames.end()));
}

void CAutoexecSettings::Read(ArchiveReader& ar) {
    uint32_t version = 0;
    if (!ar.Get(version) || version == 0) return;
    ar.Get(allowTeamChange);
    ar.Get(autoBalance);
    ar.Get(autoSaveDisconnect);
    ar.Get(autoSaveLevel);
    ar.Get(minCount);
    ar.Get(maxCount);
    ar.GetString(serverHudNames);
    ar.GetString(killMsgFilter);
    // The game knows four teams: a stored list of another length is cut or padded to four names.
    std::vector<std::string> names;
    if (ar.GetStringList(names)) {
        for (size_t i = 0; i < kTeamCount; ++i) teamNames[i] = i < names.size() ? names[i] : std::string();
    }
}

}  // namespace hm
