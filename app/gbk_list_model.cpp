#include "app/gbk_list_model.h"

#include "app/gbk_qstring.h"

namespace {
constexpr int kFlushMs = 40;
}

GbkListModel::GbkListModel(QStringList titles, QObject* parent)
    : QAbstractTableModel(parent),
      store_(static_cast<int>(titles.size())),
      titles_(std::move(titles)) {
    timer_.setSingleShot(true);
    timer_.setInterval(kFlushMs);
    connect(&timer_, &QTimer::timeout, this, &GbkListModel::flush);
}

int GbkListModel::append_row(std::string_view first_cell) {
    const int row = store_.append_row();
    if (row < 0) return -1;
    store_.set(row, 0, first_cell);
    if (!timer_.isActive()) timer_.start();
    return row;
}

void GbkListModel::append_rows(const std::vector<std::vector<Text>>& rows) {
    for (const auto& cells : rows) {
        const int row = store_.append_row();
        if (row < 0) break;
        const int n = std::min(static_cast<int>(cells.size()), store_.columns());
        for (int column = 0; column < n; ++column)
            store_.set(row, column, cells[column]);
    }
    if (!rows.empty() && !timer_.isActive()) timer_.start();
}

bool GbkListModel::set_cell(int row, int column, std::string_view text) {
    if (!store_.set(row, column, text)) return false;
    changed(row);
    return true;
}

Text GbkListModel::cell(int row, int column) const {
    return Text(store_.get(row, column));
}

void GbkListModel::clear() {
    beginResetModel();
    store_.clear();
    announced_ = 0;
    dirty_first_ = dirty_last_ = -1;
    timer_.stop();
    endResetModel();
}

void GbkListModel::changed(int row) {
    if (row >= announced_) return;  // the insert that announces it repaints it too
    if (dirty_first_ < 0 || row < dirty_first_) dirty_first_ = row;
    if (row > dirty_last_) dirty_last_ = row;
    if (!timer_.isActive()) timer_.start();
}

void GbkListModel::flush() {
    timer_.stop();
    if (dirty_first_ >= 0) {
        const int first = dirty_first_, last = std::min(dirty_last_, announced_ - 1);
        dirty_first_ = dirty_last_ = -1;
        if (first <= last)
            emit dataChanged(index(first, 0), index(last, std::max(store_.columns() - 1, 0)));
    }
    const int total = store_.rows();
    if (total > announced_) {
        beginInsertRows({}, announced_, total - 1);
        announced_ = total;
        endInsertRows();
    }
}

int GbkListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : announced_;
}

int GbkListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : store_.columns();
}

QVariant GbkListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole)) return {};
    return to_qstring(store_.get(index.row(), index.column()));
}

QVariant GbkListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Horizontal)
        return section >= 0 && section < titles_.size() ? titles_[section] : QVariant();
    return section + 1;
}
