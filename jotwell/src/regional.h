// The regional date and time formats that LO_USER_ISO_DATE and LO_REG_ISO_DATE ask the library to
// set (ISO dates, 24-hour time), written into the project's registry file.
//
// Runs on the thread of the call that asks for it, after the line is composed and before it is
// written. Its own lines are written with both options cleared, so it never recurses; a registry
// failure never stops the line.
#pragma once

#include <string>

#include "work.h"

namespace hm::jotwell {

// Writes the five values under the key(s) the options name. 0, or -2 when a key cannot be opened.
int ApplyRegionalSettings(const std::string& prefix, const Work& work);

}  // namespace hm::jotwell
