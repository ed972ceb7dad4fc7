#pragma once

#include <string>
#include <vector>

// The user's preferred language codes, most preferred first.
class Preferences {
public:
    virtual ~Preferences() = default;
    virtual std::vector<std::string> preferredLanguages() const = 0;
};
