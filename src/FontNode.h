#pragma once

#include <optional>
#include <string>

// One entry of a language table; each field is absent until set.
struct FontNode {
    std::optional<std::string> KeyString;
    std::optional<std::string> String;
    std::optional<std::string> Font;
    std::optional<std::string> FontColor;
    std::optional<std::string> FontSize;
    std::optional<std::string> FontOffset;
};
