#pragma once

#include <string>

#include "Accessible.h"

// A message that something the user asked for did not happen. It offers a
// button that puts a text on the clipboard and one that closes it; it does
// not block the caller.
class FailureMessage {
public:
    using ButtonText = ButtonTexts;
    virtual ~FailureMessage() = default;
    virtual void show(const std::string& message, const std::string& details, const ButtonText& copy,
                      const std::string& copyText, const ButtonText& close) = 0;
};
