// Date stamps of log lines and the library's version banner.
//
// Any thread calls these. The wall clock is read through one replaceable function so that naming
// and rotation can be tested at a pinned date; production never replaces it. Nothing here touches
// files or locks.
#pragma once

#include <string>

#include "jotwell.h"

namespace hm::jotwell {

struct WallTime {
    int year = 1970, month = 1, day = 1;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
    int utcOffsetMinutes = 0;  // local time minus UTC, daylight saving included
};

using NowFunction = WallTime (*)();
// Replaces the clock (null restores the real one). For tests only.
void SetNowFunction(NowFunction fn);
WallTime Now();

// Fills all five stamp texts from t; timeT puts a "T" between date and time.
void ComputeStamps(const WallTime& t, bool timeT, DateStamps& out);

// "May  6 2010" (the compiler's date form) as "2010-05-06"; "*** Error ***" for an unknown month.
std::string RewriteBuildDate(const std::string& compilerDate);

// The banner line written once per process.
std::string BannerText();

}  // namespace hm::jotwell
