#pragma once

#include <string>

// Hands a URL to the desktop's default handler for its scheme.
class Workspace {
public:
    virtual ~Workspace() = default;
    virtual void openURL(const std::string& url) = 0;
};
