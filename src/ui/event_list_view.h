// The event list of the main window: the lines as the core gives them, newest at the bottom.
//
// Mirrors the core's list (lines added at the end, removed from the front when it trims), stays
// scrolled to the newest line unless the operator scrolled up, marks errors red and warnings amber,
// and narrows the shown lines to those containing the filter text (the core's list is unchanged).
// "Copy" of the context menu puts the selected lines, each with "\r\n", on the clipboard. GUI thread.
#pragma once

#include <QWidget>

#include <functional>
#include <string>

class QLineEdit;
class QListWidget;

namespace hm {

class EventListView : public QWidget {
public:
    explicit EventListView(QWidget* parent = nullptr);

    void AddLine(const std::string& line);
    void RemoveFront(size_t count);
    // Called with the text of a message the copy must show ("No items selected!").
    void SetMessenger(std::function<void(const QString&)> messenger) { message_ = std::move(messenger); }
    // The context menu's "Copy".
    void CopySelection();

    QListWidget* list() const { return list_; }
    QLineEdit* filter() const { return filter_; }

    enum class Kind { Plain, Warning, Error };
    // How a line is marked, from its text behind the time stamp.
    static Kind KindOf(const QString& text);

private:
    void ApplyFilter();
    bool Matches(const QString& line) const;

    QLineEdit* filter_;
    QListWidget* list_;
    std::function<void(const QString&)> message_;
};

}  // namespace hm
