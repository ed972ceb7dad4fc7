#pragma once

#include <string>

#include "Accessible.h"
#include "Font.h"

// A text label; shows its text literally, never as markup.
class TextField : public Accessible {
public:
    virtual ~TextField() = default;
    virtual void setStringValue(const std::string& text) = 0;
    virtual void setFont(const Font& font) = 0;
};
