// Disposing of one old log file: gzip archive in-process, an external packer, the file system's own
// compression, or deletion; every action and error is written as a line into the current log.
//
// Called by the rotation step on the writing thread while it holds the candidate's compression
// lock. A log is deleted only after its archive was written and closed without error; a log that
// could not be compressed stays a plain log and is tried again next time.
#pragma once

#include <string>

#include "work.h"

namespace hm::jotwell {

// Compresses one old log; true when it is compressed now (archive written, or compressed in place).
bool CompressOldLog(const std::string& prefix, const Work& work, const std::string& logPath);

// Deletes a file with the deletion messages ("Obsolete file ... deleted." unless quiet, or the
// error line).
bool DeleteWithMessages(const std::string& prefix, const Work& work, const std::string& path);

// Whether the file carries the file system's compressed attribute.
bool HasCompressedAttribute(const std::string& path);

}  // namespace hm::jotwell
