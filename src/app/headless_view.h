// The headless front-end's screen: event lines to stdout, message boxes to stderr.
//
// Used on the loop thread only. Every event-list line goes to stdout as the list shows it, flushed per
// line, so a supervisor (systemd, a terminal, a test) sees each one at once. Questions are answered
// "no" and file pickers "cancel": nobody is there to answer them. A port clash leaves only that one
// server unstarted and never cancels the servers after it. When stdout is the journal, each event line
// carries its syslog priority in front ("<3>" error, "<4>" warning, "<6>" information); the journal
// takes the prefix off and keeps the line's priority, so "journalctl -p warning" finds the trouble.
#pragma once

#include <cstdio>

#include "app/manager_view.h"

namespace hm {

class EventLoop;

class HeadlessView : public ManagerView {
public:
    HeadlessView(EventLoop& loop, std::FILE* out = stdout, std::FILE* err = stderr);

    void EventLineAdded(const std::string& line) override;
    void EventLinesRemoved(size_t) override {}
    void SetTitle(const std::string& title) override { title_ = title; }
    void SetInfo(InfoField, const std::string&) override {}
    void UpdateServerLine(const StatusLine&) override {}
    void RemoveServerLine(unsigned) override {}
    void EnableStopAllButtons(bool) override {}
    void Minimize() override {}
    void ShowNormal() override {}
    std::unique_ptr<ProgressSteps> CreateProgress() override { return nullptr; }
    void MessageBox(const std::string& text) override;
    bool AskYesNo(const std::string& question) override;
    PortAnswer AskPort(const std::string& message, unsigned nextFree, unsigned& chosen) override;
    bool PickFile(const std::string&, const std::string&, std::string&) override { return false; }
    // Declines, and says on stderr how to register a game folder by hand.
    bool ChooseGameFolder(const std::string& filter, const std::string& registryFile, std::string& chosen) override;
    void RequestClose() override;

    void SetJournalPriorities(bool on) { journalPriorities_ = on; }
    // "<3>" for an event line whose text begins "Error", "<4>" for "Warning", "<6>" for any other.
    static const char* JournalPriority(const std::string& line);

    bool closeRequested() const { return closeRequested_; }
    const std::string& title() const { return title_; }

private:
    EventLoop& loop_;
    std::FILE* out_;
    std::FILE* err_;
    std::string title_;
    bool closeRequested_ = false;
    bool journalPriorities_ = false;
};

}  // namespace hm
