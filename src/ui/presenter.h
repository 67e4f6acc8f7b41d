// What the windows ask of the operator, behind one small interface: message boxes, questions, file
// pickers and modal dialogs.
//
// The desktop program uses DialogPresenter (real modal boxes); tests put a recording presenter in its
// place, so nothing blocks. GUI thread only.
#pragma once

#include <QString>

#include <string>


class QDialog;
class QWidget;

namespace hm {

class UiPresenter {
public:
    virtual ~UiPresenter() = default;
    virtual void Message(QWidget* parent, const QString& text) = 0;
    // A failed operator action ("Haldmoor3 - Error" with the error icon); recorded like a message.
    virtual void Error(QWidget* parent, const QString& text) { Message(parent, text); }
    virtual bool AskYesNo(QWidget* parent, const QString& question) = 0;
    // `filter` in Qt's form (see QtFileFilter). False for cancel.
    virtual bool PickFile(QWidget* parent, const QString& title, const QString& filter, QString& chosen) = 0;
    // Runs a modal dialog; returns its result code (QDialog::Accepted or Rejected).
    virtual int Exec(QDialog& dialog) = 0;
};

class DialogPresenter : public UiPresenter {
public:
    void Message(QWidget* parent, const QString& text) override;
    void Error(QWidget* parent, const QString& text) override;
    bool AskYesNo(QWidget* parent, const QString& question) override;
    bool PickFile(QWidget* parent, const QString& title, const QString& filter, QString& chosen) override;
    int Exec(QDialog& dialog) override;
};

// A file filter of the stores' form ("Text files (*.txt)|*.txt|All files (*.*)|*.*||": description and
// patterns in pairs, patterns separated by ';') in Qt's form ("Text files (*.txt);;All files (*)").
QString QtFileFilter(const std::string& filter);

}  // namespace hm
