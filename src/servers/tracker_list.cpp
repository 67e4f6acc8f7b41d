#include "servers/tracker_list.h"

namespace hm {

const char* const kDefaultTrackers[3] = {"master.kelvane3.net:27900", "tracker.haldmoor.net:22999",
                                         "master2.kelvane3.net:27900"};

TrackerList::TrackerList() : trackers(std::begin(kDefaultTrackers), std::end(kDefaultTrackers)) {}

void TrackerList::Write(ArchiveWriter& ar) const {
    ar.Dword(kVersion);
    ar.Dword(enabled);
    ar.Dword(postToWebTracker);
    ar.StringList(trackers);
}

void TrackerList::Read(ArchiveReader& ar) {
    uint32_t version = 0;
    if (!ar.Get(version) || version == 0) return;
    ar.Get(enabled);
    ar.Get(postToWebTracker);
    ar.GetStringList(trackers);
}

}  // namespace hm
