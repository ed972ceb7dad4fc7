#pragma once

#include <vector>

#include "Row.h"

// The table's content: holds the rows, arranges (sorts) them and tracks the
// selection.
class ArrayController {
public:
    virtual ~ArrayController() = default;
    virtual void addObject(const RowPtr& row) = 0;
    // Takes out exactly the given rows (by identity).
    virtual void removeObjects(const std::vector<RowPtr>& rows) = 0;
    // The selected rows, taken from the table's current (maybe sorted) order.
    virtual std::vector<RowPtr> selectedObjects() const = 0;
};
