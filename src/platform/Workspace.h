#pragma once

#include <functional>
#include <string>

// Hands a URL to the desktop's default handler for its scheme. failed runs
// on the main thread, at once or later, when no handler took the URL or the
// handler reported an error; it is never run after a success.
class Workspace {
public:
    virtual ~Workspace() = default;
    virtual void openURL(const std::string& url, std::function<void()> failed) = 0;
};
