#pragma once

#include <string>

// The main window itself, as far as the language reaches it.
class WindowFrame {
public:
    virtual ~WindowFrame() = default;
    virtual void setTitle(const std::string& title) = 0;
};
