// One pair of lists side by side, allowed on the left and disallowed on the right, with the buttons
// that move the selected names (or all of them) across; a double click moves one name. Used by the ship
// dialog and by each category page of the powerup dialog.
//
// The widget edits two lists that its dialog owns and keeps alive for the widget's life; every move
// goes through the pure list rules, so a name always stands in exactly one list. GUI thread only. It
// never touches a caller's record: the dialog hands in its own copy.
#pragma once

#include <QString>
#include <QWidget>

#include <string>
#include <vector>

class QLabel;
class QListWidget;
class QPushButton;

namespace hm {

class AllowedListsEditor : public QWidget {
public:
    struct Texts {
        QString allowedTitle;     // "Allowed ships", shown with the count behind it
        QString disallowedTitle;
        QString allowedTip, disallowedTip;
        QString disallowTip, allowTip;
        QString disallowAllTip, allowAllTip;  // empty: no button to move a whole list
    };

    AllowedListsEditor(std::vector<std::string>& allowed, std::vector<std::string>& disallowed, const Texts& texts,
                       QWidget* parent = nullptr);

    // Shows the lists again after the owner changed them (defaults restored).
    void Reload();

    void DisallowSelected();
    void AllowSelected();
    void DisallowAll();
    void AllowAll();

    QListWidget* allowedList() const { return allowedList_; }
    QListWidget* disallowedList() const { return disallowedList_; }
    QPushButton* disallowButton() const { return disallow_; }
    QPushButton* allowButton() const { return allow_; }
    QPushButton* disallowAllButton() const { return disallowAll_; }  // null without the "all" buttons
    QPushButton* allowAllButton() const { return allowAll_; }

private:
    static std::vector<size_t> SelectedRows(const QListWidget& list);
    void Fill(QListWidget& list, const std::vector<std::string>& names, const std::vector<size_t>& selected);
    void Show(const std::vector<size_t>& selectedAllowed, const std::vector<size_t>& selectedDisallowed);
    void UpdateButtons();

    std::vector<std::string>& allowed_;
    std::vector<std::string>& disallowed_;
    Texts texts_;
    QLabel* allowedLabel_;
    QLabel* disallowedLabel_;
    QListWidget* allowedList_;
    QListWidget* disallowedList_;
    QPushButton* disallow_;
    QPushButton* allow_;
    QPushButton* disallowAll_ = nullptr;
    QPushButton* allowAll_ = nullptr;
};

}  // namespace hm
