#pragma once

#include <string>

// What assistive technology announces for a control, and the letter that
// reaches it with Alt (a caption's letter moves the focus to its control).
// An empty text leaves that part as it is.
struct AccessTexts {
    std::string mnemonic;
    std::string name;
    std::string description;
};

// The title and access texts of a button that a dialog makes itself.
struct ButtonTexts {
    std::string title;
    AccessTexts access;
};

// Every control takes access texts; a control that has no use for one part
// (a mnemonic on a plain label) ignores it.
class Accessible {
public:
    virtual ~Accessible() = default;
    virtual void setAccess(const AccessTexts&) {}
};
