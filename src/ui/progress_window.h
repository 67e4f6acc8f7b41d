// The progress window of the start-up and shutdown sequences: a caption, a bar and one line of text.
//
// Created by the main window for a sequence, on the GUI thread, and destroyed at its end. Each step
// pumps the GUI thread's events, so the window repaints while the sequence runs and the operator sees
// where it is. An observer (tests) may follow every caption and step.
#pragma once

#include <QDialog>

#include <functional>
#include <string>

#include "servers/progress.h"

class QLabel;
class QProgressBar;

namespace hm {

class ProgressWindow : public QDialog, public ProgressSteps {
public:
    // Sees "caption: TEXT" at Setup and "step: TEXT" at every step, while the window shows.
    using Observer = std::function<void(const std::string& record, ProgressWindow& window)>;
    static void SetObserver(Observer observer);

    explicit ProgressWindow(QWidget* parent = nullptr);
    ~ProgressWindow() override;

    void Setup(const std::string& caption, int steps) override;
    void Step(const std::string& text) override;

    QString stepText() const;
    int position() const;
    int steps() const;

private:
    void Pump();
    void Notify(const std::string& record);

    QLabel* heading_;
    QProgressBar* bar_;
    QLabel* text_;
};

}  // namespace hm
