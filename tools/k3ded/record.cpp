#include "record.h"

#include "platform/files.h"
#include "text_util.h"

namespace hm::k3ded {

void Recorder::Open(const std::string& folder) {
    if (folder.empty()) {
        path_.clear();
        return;
    }
    fs::CreateFolders(folder);
    path_ = folder + (folder.back() == '/' ? "" : "/") + kRecordFileName;
}

void Recorder::Add(const std::string& kind, const std::string& text) {
    if (path_.empty()) return;
    fs::AppendToFile(path_, kind + " " + OneLine(text) + "\n");
}

}  // namespace hm::k3ded
