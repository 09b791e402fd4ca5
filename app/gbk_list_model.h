#pragma once
// The model behind every list view and list box of the window. Cells are GBK bytes in a
// GbkCellStore; the views see QStrings made for the rows they draw. Views learn about new rows and
// changed cells on a short timer, so a burst of appends costs one insert and one repaint.
// Window thread only.
#include <QAbstractTableModel>
#include <QStringList>
#include <QTimer>
#include <string_view>
#include <vector>

#include "app/gbk_cell_store.h"
#include "runtime/text.h"

class GbkListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // One column per title; a list box or list-mode view has one column with an empty title.
    explicit GbkListModel(QStringList titles, QObject* parent = nullptr);

    int rows() const { return store_.rows(); }  // every row, told to the views or not yet
    int columns() const { return store_.columns(); }
    // Returns the new row's index, -1 when the list cannot grow.
    int append_row(std::string_view first_cell);
    // Each inner vector holds the cells from column 0; cells past the last column are ignored.
    void append_rows(const std::vector<std::vector<Text>>& rows);
    bool set_cell(int row, int column, std::string_view text);
    Text cell(int row, int column) const;
    std::string_view cell_view(int row, int column) const { return store_.get(row, column); }
    void clear();

    void flush();  // tell the views about pending rows and changes now
    void set_flush_interval(int ms) { timer_.setInterval(ms); }
    std::size_t memory_bytes() const { return store_.memory_bytes(); }

    int rowCount(const QModelIndex& parent = {}) const override;  // rows the views know about
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    void changed(int row);

    GbkCellStore store_;
    QStringList titles_;
    int announced_ = 0;  // rows the views know about
    int dirty_first_ = -1;
    int dirty_last_ = -1;
    QTimer timer_;
};
