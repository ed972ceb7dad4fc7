// The one error type of the simulator; it carries the process exit status.
#pragma once

#include <stdexcept>
#include <string>

class SimError : public std::runtime_error {
public:
    enum : int { kRuntime = 1, kUsage = 2 };

    SimError(int exitCode, const std::string& message)
        : std::runtime_error(message), m_exitCode(exitCode) {}

    int exitCode() const { return m_exitCode; }

private:
    int m_exitCode;
};
