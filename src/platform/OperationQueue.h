#pragma once

#include <memory>

#include "Operation.h"

class OperationQueue {
public:
    virtual ~OperationQueue() = default;
    // Runs the operation's main once, on a background thread.
    virtual void addOperation(std::shared_ptr<Operation> operation) = 0;
};
