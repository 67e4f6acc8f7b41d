#include "app/headless_view.h"

#include "app/headless_loop.h"

namespace hm {

HeadlessView::HeadlessView(EventLoop& loop, std::FILE* out, std::FILE* err) : loop_(loop), out_(out), err_(err) {}

void HeadlessView::EventLineAdded(const std::string& line) {
    std::fprintf(out_, "%s\n", line.c_str());
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
