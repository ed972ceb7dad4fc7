#pragma once

#include <functional>
#include <string>

#include "Accessible.h"

// A small dialog over the window in which the user edits a list of search
// targets. It does not block the caller: the window keeps counting while it
// is open.
class TargetsDialog {
public:
    struct Texts {
        std::string title;        // the dialog's window title
        std::string explanation;  // what to enter, above the text
        std::string label;        // the caption of the text
        AccessTexts labelAccess;  // the caption's letter; the text's name and description
        ButtonTexts save, cancel;
    };
    virtual ~TargetsDialog() = default;
    // Shows text for editing. Save hands the edited text to save: an empty
    // result closes the dialog, any other is shown in it as the reason the
    // text was refused, and the dialog stays open. Cancel closes it.
    virtual void show(const Texts& texts, const std::string& text,
                      std::function<std::string(const std::string&)> save) = 0;
};
