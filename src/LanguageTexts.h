#pragma once

#include <map>
#include <string>

#include "ParseOperation.h"
#include "platform/Accessible.h"

// Texts of a language table beyond the entries the window styles: phrases
// with an English fallback, and the access texts of a control. A control
// whose entry is KEY takes its access letter, accessible name and
// description from the entries "KEY.Mnemonic", "KEY.Name" and
// "KEY.Description". A new control or dialog needs only new entries:
//
//     LanguageTexts texts(table);
//     button.setAccess(texts.access("Other networks"));
//     dialog.setTitle(texts.text("Other networks.Title", "Other networks"));
class LanguageTexts {
public:
    // table may be null (no language file, or its parse not finished):
    // every text is then the English fallback and every access text empty.
    explicit LanguageTexts(const LanguageTable* table) : table_(table) {}

    // The entry's String, or english when the entry or its String is absent.
    std::string text(const std::string& key, const std::string& english) const;
    AccessTexts access(const std::string& key) const;

    // Replaces each "{name}" in text by its value; other braces stay.
    static std::string fill(std::string text, const std::map<std::string, std::string>& values);

private:
    const LanguageTable* table_;
};
