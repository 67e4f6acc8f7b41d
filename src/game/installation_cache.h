// The stored form of the installation lists, "KelvaneInfo.dat" in the configuration folder: the
// executables, missions, network game types and connection types, each as a list version, a count
// and its entries, with no file header. Written byte for byte as earlier releases wrote it.
//
// Used by CGameInstallation on the user-interface thread while it loads or stores the cache. The
// readers never trust the file: damage puts the ArchiveReader into its failed state, and an entry
// layout this release does not know (a version other than the ones written here) ends the reading
// without guessing at the bytes; the lists are then rebuilt from the game folder anyway.
#pragma once

#include "game/game_files.h"
#include "servers/archive.h"

namespace hm {

inline constexpr uint32_t kGameFileListVersion = 1;
inline constexpr uint32_t kGameFileEntryVersion = 1;
inline constexpr uint32_t kMissionEntryVersion = 3;
inline constexpr uint32_t kLevelEntryVersion = 1;

void WriteGameFileList(ArchiveWriter& ar, const CGameFileList& list);
void WriteMissionList(ArchiveWriter& ar, const CMissionList& list);

// Each reads one list into `list`. A list version of 0 leaves `list` as it was. Otherwise `list`
// becomes the entries read completely. Returns false when reading must stop here: the reader failed
// (damaged or short file) or an entry has a layout this release cannot read.
bool ReadGameFileList(ArchiveReader& ar, CGameFileList& list);
bool ReadMissionList(ArchiveReader& ar, CMissionList& list);

}  // namespace hm
