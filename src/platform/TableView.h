#pragma once

#include <string>

#include "Accessible.h"
#include "Font.h"

class TableView : public Accessible {
public:
    virtual ~TableView() = default;
    virtual void reloadData() = 0;
    // Index of the selected row in display order, or -1 when none.
    virtual int selectedRow() const = 0;
    virtual int numberOfRows() const = 0;
    virtual int numberOfColumns() const = 0;
    virtual void setColumnEditable(int column, bool editable) = 0;
    virtual void setHeaderTitle(int column, const std::string& title) = 0;
    virtual void setHeaderFont(int column, const Font& font) = 0;
};
