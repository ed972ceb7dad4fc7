#pragma once

#include <string>

// One diagnostic line to the system log; callable from any thread.
class SystemLog {
public:
    virtual ~SystemLog() = default;
    virtual void log(const std::string& line) = 0;
};
