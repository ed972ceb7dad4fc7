#pragma once

#include <optional>
#include <string>

// The user's own settings, kept between runs.
class Settings {
public:
    virtual ~Settings() = default;
    virtual std::optional<std::string> value(const std::string& key) const = 0;
    // Stores at once; false when it could not be written.
    virtual bool setValue(const std::string& key, const std::string& value) = 0;
    // Where the settings live, for messages.
    virtual std::string location() const = 0;
};
