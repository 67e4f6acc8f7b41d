// Mission descriptions: the line-oriented ".msn" text inside a mission archive, read into a
// CMissionInfo for the mission list, and the program's own looping description, which makes every
// level of a multi-level mission branch to itself. Also the description file a server's launch writes
// beside the game (and its stop removes), named after the mission.
//
// Parsing and building are pure and usable on any thread. The file steps run on the user-interface
// thread during a launch or a stop and report through the event list. A description file is never
// named after anything but a ".mn3" mission in the game folder itself, so these steps can never
// overwrite or delete the archive or any file outside the game folder, and never touch a read-only
// file.
#pragma once

#include <string>

#include "eventlog/event_log.h"
#include "game/game_files.h"

namespace hm {

// Fills the description fields, the levels and (from "NAME") the title of `mission`. A description that
// is broken (impossible level numbers), has no name, declares no levels or another number of levels
// than it holds leaves the mission with empty name and title and no levels.
void ParseMissionDescription(CMissionInfo& mission, const std::string& text);

// A mission that the mission list may offer: named and with at least one level.
bool IsUsableMission(const CMissionInfo& mission);

// The text of a looping description of `mission` (CR LF line ends).
std::string BuildMissionDescription(const CMissionInfo& mission);

// The archive a server actually hosts: the second archive of the game's own mission, "k3_2.mn3" (any
// case), stands for "K3.mn3"; other names are unchanged.
std::string MapMissionFileName(const std::string& missionFile);
// The description file name for a hosted mission: the mapped name with ".mn3" replaced by ".msn".
// "" when the name holds no ".mn3" (exact case) or is not a plain file name (a path, ".." or empty).
std::string MissionDescriptionFileName(const std::string& missionFile);

// The launch step: with a custom description, writes its text to the description file; otherwise
// removes a description file left there (read-only files are reported, never changed; something
// that is not a regular file, such as a FIFO, is reported and never opened). Returns false only when
// the custom text could not be written.
bool PrepareMissionDescriptionFile(EventLogList& events, unsigned serverPort, const std::string& gameFolder,
                                   const std::string& missionFile, bool customDescription,
                                   const std::string& customDescriptionText);

// The stop step (the caller runs it only when no other server hosts the mission): removes the
// description file that the launch wrote, without a message; a read-only one is reported and kept.
void RemoveMissionDescriptionFile(EventLogList& events, unsigned serverPort, const std::string& gameFolder,
                                  const std::string& missionFile, bool customDescription,
                                  const std::string& customDescriptionText);

}  // namespace hm
