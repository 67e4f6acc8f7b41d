// What the server manager needs from a screen: the main window seen through an interface.
//
// Two implementations: the Qt main window and the headless front-end. Called on the user-interface
// thread only. Questions return the operator's answer; the headless view answers them itself.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "eventlog/event_log.h"
#include "launch/port_search.h"
#include "servers/progress.h"

namespace hm {

// What a status line's server is doing, for its mark in the window.
enum class LineState { Running, Stopped, Scheduled, Restarting };

// The six columns of one status line (PID, Name, Mission, Game type, Port, Status), and for the window
// the players on the server ("2/16"; empty without a console) and its state.
struct StatusLine {
    std::string pid, name, mission, gameType, port, status;
    unsigned portNumber = 0;
    std::string players;
    LineState state = LineState::Stopped;
};

// Identifiers of the information fields of the main window.
enum class InfoField { GameVersion = 1005, GameFolder = 1006, NetworkAddress = 1007 };

class ManagerView : public EventListSink {
public:
    ~ManagerView() override = default;

    virtual void SetTitle(const std::string& title) = 0;
    virtual void SetInfo(InfoField field, const std::string& text) = 0;
    virtual void UpdateServerLine(const StatusLine& line) = 0;
    virtual void RemoveServerLine(unsigned port) = 0;
    virtual void EnableStopAllButtons(bool enable) = 0;
    virtual void Minimize() = 0;
    virtual void ShowNormal() = 0;
    // A progress window: null when the front-end shows none.
    virtual std::unique_ptr<ProgressSteps> CreateProgress() = 0;
    virtual void MessageBox(const std::string& text) = 0;
    virtual bool AskYesNo(const std::string& question) = 0;
    // A port clash while servers are started: the message, the next free port offered in a port
    // field. A window asks the operator (OK takes the port in `chosen`, cancel stops the rest of the
    // list); a view nobody watches answers LeaveServer, which leaves only this server unstarted.
    virtual PortAnswer AskPort(const std::string& message, unsigned nextFree, unsigned& chosen) {
        chosen = nextFree;
        return AskYesNo(message + "\nUse port " + std::to_string(nextFree) + " instead?") ? PortAnswer::UsePort
                                                                                         : PortAnswer::CancelAll;
    }
    // Returns false for cancel.
    virtual bool PickFile(const std::string& title, const std::string& filter, std::string& chosen) = 0;
    // The start-up found no usable game folder: the operator may choose the game's launcher file
    // (`filter` in the stores' form; `chosen` arrives with the preset name). `registryFile` is where
    // the folder is registered, for a view that can only tell how to do it by hand. A view nobody
    // watches declines.
    virtual bool ChooseGameFolder(const std::string& filter, const std::string& registryFile, std::string& chosen) {
        (void)filter, (void)registryFile, (void)chosen;
        return false;
    }
    // Ends the main window's run after the current task (the shutdown sequence follows).
    virtual void RequestClose() = 0;
    virtual void Repaint() {}
    // A second start of the program asked for the window: shown, restored, raised and activated.
    virtual void BringToFront() {}
};

}  // namespace hm
