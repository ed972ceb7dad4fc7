#pragma once

#include <string>

// A font by family name and size in points, as the fonts catalogue made it.
struct Font {
    std::string family;
    double pointSize = 0;
};
