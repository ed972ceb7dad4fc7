#pragma once

#include <string>

#include "Accessible.h"
#include "Font.h"

class Button : public Accessible {
public:
    virtual ~Button() = default;
    virtual void setEnabled(bool enabled) = 0;
    virtual void setTitle(const std::string& title) = 0;
    virtual void setFont(const Font& font) = 0;
};
