#include "QtDeviceTable.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <algorithm>
#include <array>
#include <optional>

#include "Common/DottedQuad.h"
#include "QtControls.h"
#include "QtFonts.h"

namespace {

constexpr int kIpColumn = 1;

// Addresses in number order; texts that are no address after all of them.
std::optional<quint32> addressNumber(const QString& text) {
    std::array<int, 4> octets{};
    if (!ParseDottedQuad(text.toStdString(), octets)) return std::nullopt;
    return quint32(octets[0]) << 24 | quint32(octets[1]) << 16 | quint32(octets[2]) << 8 | quint32(octets[3]);
}

}  // namespace

void ColumnEditProxy::setColumnEditable(int column, bool editable) {
    if (editable)
        readOnly_.erase(column);
    else
        readOnly_.insert(column);
}

Qt::ItemFlags ColumnEditProxy::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QSortFilterProxyModel::flags(index);
    if (readOnly_.count(index.column())) f &= ~Qt::ItemIsEditable;
    return f;
}

bool ColumnEditProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    if (left.column() != kIpColumn) return QSortFilterProxyModel::lessThan(left, right);
    const auto a = addressNumber(left.data().toString()), b = addressNumber(right.data().toString());
    if (a && b) return *a < *b;
    if (a || b) return a.has_value();
    return QSortFilterProxyModel::lessThan(left, right);
}

const std::vector<std::string>& QtDeviceTable::columnKeys() {
    static const std::vector<std::string> keys{"HomeHost", "IP", "DeviceType"};
    return keys;
}

QtDeviceTable::QtDeviceTable(QTableView* view) : view_(view) {
    model_.setColumnCount(static_cast<int>(columnKeys().size()));
    proxy_.setSourceModel(&model_);
    proxy_.setSortCaseSensitivity(Qt::CaseInsensitive);
    view_->setModel(&proxy_);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // Unsorted (list order) until the user picks a column.
    view_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    view_->setSortingEnabled(true);
}

void QtDeviceTable::addObject(const RowPtr& row) {
    QList<QStandardItem*> items;
    for (const std::string& key : columnKeys()) {
        const auto it = row->find(key);
        auto* item = new QStandardItem(it == row->end() ? QString() : QString::fromStdString(it->second));
        // Escaped: device texts could otherwise pass for rich text.
        if (const auto tip = row->find("ToolTip"); tip != row->end())
            item->setToolTip("<p style='white-space:pre'>" + QString::fromStdString(tip->second).toHtmlEscaped() +
                             "</p>");
        items.append(item);
    }
    rows_.push_back(row);
    model_.appendRow(items);
}

void QtDeviceTable::removeObjects(const std::vector<RowPtr>& rows) {
    for (int i = static_cast<int>(rows_.size()) - 1; i >= 0; --i) {
        if (std::find(rows.begin(), rows.end(), rows_[i]) == rows.end()) continue;
        model_.removeRow(i);
        rows_.erase(rows_.begin() + i);
    }
}

std::vector<RowPtr> QtDeviceTable::selectedObjects() const {
    QModelIndexList selected = view_->selectionModel()->selectedRows();
    std::sort(selected.begin(), selected.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    std::vector<RowPtr> out;
    for (const QModelIndex& index : selected) {
        const int source = proxy_.mapToSource(index).row();
        if (source >= 0 && source < static_cast<int>(rows_.size())) out.push_back(rows_[source]);
    }
    return out;
}

void QtDeviceTable::reloadData() { view_->viewport()->update(); }

int QtDeviceTable::selectedRow() const {
    const QItemSelectionModel* selection = view_->selectionModel();
    const QModelIndex current = selection->currentIndex();
    if (current.isValid() && selection->isRowSelected(current.row(), QModelIndex())) return current.row();
    const QModelIndexList rows = selection->selectedRows();
    return rows.isEmpty() ? -1 : rows.front().row();
}

int QtDeviceTable::numberOfRows() const { return proxy_.rowCount(); }

int QtDeviceTable::numberOfColumns() const { return proxy_.columnCount(); }

void QtDeviceTable::setColumnEditable(int column, bool editable) { proxy_.setColumnEditable(column, editable); }

void QtDeviceTable::setHeaderTitle(int column, const std::string& title) {
    model_.setHeaderData(column, Qt::Horizontal, QString::fromStdString(title));
}

void QtDeviceTable::setHeaderFont(int column, const Font& font) {
    model_.setHeaderData(column, Qt::Horizontal, toQFont(font), Qt::FontRole);
}

void QtDeviceTable::setAccess(const AccessTexts& access) { applyAccess(view_, access); }
