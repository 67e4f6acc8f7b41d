// The server status list of the main window: one line per supervised server, keyed by its port.
//
// Seven columns: the six of the status lines (PID, Name, Mission, Game type, Port, Status) and
// Players ("2/16"). New lines go to the top; a header click sorts by that column (ascending first,
// the same header again toggles), PID, Port and Players as numbers and the others without regard to
// case. Each line carries a coloured mark of its state. A double-click on a line, or Enter on the
// current one, asks for that server's window. GUI thread only.
#pragma once

#include <QTableWidget>

#include <array>
#include <functional>
#include <vector>

#include "app/manager_view.h"

namespace hm {

class StatusList : public QTableWidget {
public:
    static constexpr int kColumns = 7;
    static constexpr std::array<int, kColumns> kShares = {3, 6, 6, 4, 3, 6, 3};
    static constexpr int kParts = 31;  // the sum of the shares
    static constexpr int kPortColumn = 4;

    explicit StatusList(QWidget* parent = nullptr);

    void UpdateLine(const StatusLine& line);
    void RemoveLine(unsigned port);
    // Row of the line with this port, -1 when there is none.
    int RowOf(unsigned port) const;
    unsigned PortAt(int row) const;
    // Ports of the selected lines, in ascending row order.
    std::vector<unsigned> SelectedPorts() const;
    // Sorts as a click on that header does.
    void SortByColumn(int column);
    // What a double-click on a line (or Enter on the current line) does with its port.
    void SetOpenHandler(std::function<void(unsigned port)> handler) { open_ = std::move(handler); }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void FitColumns();

    void Open(int row);

    std::function<void(unsigned)> open_;
    int sortColumn_ = -1;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
};

}  // namespace hm
