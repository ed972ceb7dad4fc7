#pragma once

// A unit of background work, run once by an operation queue.
class Operation {
public:
    virtual ~Operation() = default;
    virtual void main() = 0;
};
