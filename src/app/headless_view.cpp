#include "app/headless_view.h"

#include "app/headless_loop.h"
#include "eventlog/event_log.h"

namespace hm {

HeadlessView::HeadlessView(EventLoop& loop, std::FILE* out, std::FILE* err) : loop_(loop), out_(out), err_(err) {}

const char* HeadlessView::JournalPriority(const std::string& line) {
    // The text follows the time stamp "YYYY-MM-DD HH:MM:SS: " that every event line starts with.
    constexpr size_t kStampLength = EventLogList::kStampLength;
    const bool stamped = line.size() >= kStampLength && line.compare(kStampLength - 2, 2, ": ") == 0;
    const size_t text = stamped ? kStampLength : 0;
    if (line.compare(text, 5, "Error") == 0) return "<3>";
    if (line.compare(text, 7, "Warning") == 0) return "<4>";
    return "<6>";
}

void HeadlessView::EventLineAdded(const std::string& line) {
    std::fprintf(out_, "%s%s\n", journalPriorities_ ? JournalPriority(line) : "", line.c_str());
    std::fflush(out_);
}

void HeadlessView::MessageBox(const std::string& text) {
    std::fprintf(err_, "%s\n", text.c_str());
    std::fflush(err_);
}

bool HeadlessView::AskYesNo(const std::string& question) {
    std::fprintf(err_, "%s (answered: no)\n", question.c_str());
    std::fflush(err_);
    return false;
}

PortAnswer HeadlessView::AskPort(const std::string& message, unsigned, unsigned&) {
    std::fprintf(err_, "%s (answered: leave this server unstarted)\n", message.c_str());
    std::fflush(err_);
    return PortAnswer::LeaveServer;
}

bool HeadlessView::ChooseGameFolder(const std::string&, const std::string& registryFile, std::string&) {
    std::fprintf(err_,
                 "No usable Kelvane 3 folder. Register one by hand: \"k3ded make-install FOLDER\" makes and registers "
                 "a demo installation, or set \"BaseDirectory\" under [HKEY_LOCAL_MACHINE\\SOFTWARE\\Brannock\\Kelvane3] "
                 "in %s to the folder that holds \"Kelvane 3.exe\"; then start Haldmoor3 again.\n",
                 registryFile.c_str());
    std::fflush(err_);
    return false;
}

void HeadlessView::RequestClose() {
    closeRequested_ = true;
    // The close ends the loop after the task that asked for it, like a posted close message.
    if (auto* headless = dynamic_cast<HeadlessLoop*>(&loop_)) {
        loop_.Post([headless] { headless->Quit(); });
    }
}

}  // namespace hm
