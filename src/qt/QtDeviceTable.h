#pragma once

#include <set>
#include <vector>

#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QTableView>

#include "platform/ArrayController.h"
#include "platform/TableView.h"

// Lets columns be made read-only one by one, and sorts the IP address
// column by number (.11 before .100).
class ColumnEditProxy : public QSortFilterProxyModel {
public:
    void setColumnEditable(int column, bool editable);
    Qt::ItemFlags flags(const QModelIndex& index) const override;

protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    std::set<int> readOnly_;
};

// The device table: rows in a QStandardItemModel (insertion order), shown
// through a sorting proxy. Selections are mapped back to the source rows.
class QtDeviceTable : public ArrayController, public TableView {
public:
    // Keys of the row values shown in the columns, in column order.
    static const std::vector<std::string>& columnKeys();

    explicit QtDeviceTable(QTableView* view);

    void addObject(const RowPtr& row) override;
    void removeObjects(const std::vector<RowPtr>& rows) override;
    std::vector<RowPtr> selectedObjects() const override;

    void reloadData() override;
    int selectedRow() const override;
    int numberOfRows() const override;
    int numberOfColumns() const override;
    void setColumnEditable(int column, bool editable) override;
    void setHeaderTitle(int column, const std::string& title) override;
    void setHeaderFont(int column, const Font& font) override;
    void setAccess(const AccessTexts& access) override;

    QStandardItemModel& model() { return model_; }
    QSortFilterProxyModel& proxy() { return proxy_; }

private:
    QTableView* view_;
    QStandardItemModel model_;
    ColumnEditProxy proxy_;
    std::vector<RowPtr> rows_;  // parallel to the source model's rows
};
