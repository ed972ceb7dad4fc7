#pragma once

#include <string>

// An alert with a message, one button and an informative text, shown without
// blocking the caller.
class Alert {
public:
    virtual ~Alert() = default;
    virtual void show(const std::string& message, const std::string& defaultButton,
                      const std::string& informativeText) = 0;
};
