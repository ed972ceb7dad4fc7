#pragma once

#include <optional>
#include <string>

#include "Font.h"

// The desktop's font catalogue.
class FontCatalogue {
public:
    virtual ~FontCatalogue() = default;
    // No font when the catalogue has no family of that name; a size of 0 or
    // less gives the catalogue's default size.
    virtual std::optional<Font> fontWithName(const std::string& name, double size) = 0;
};
