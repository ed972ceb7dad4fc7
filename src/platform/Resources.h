#pragma once

#include <optional>
#include <string>
#include <vector>

// Files shipped with the application.
class Resources {
public:
    virtual ~Resources() = default;
    // Path of the resource "name.type", or none when it is not shipped.
    virtual std::optional<std::string> pathForResource(const std::string& name,
                                                       const std::string& type) const = 0;
    // The whole file, or none when it cannot be read.
    virtual std::optional<std::vector<char>> contentsOfFile(const std::string& path) const = 0;
};
