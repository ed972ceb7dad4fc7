#include "LanguageTexts.h"

std::string LanguageTexts::text(const std::string& key, const std::string& english) const {
    if (!table_) return english;
    const auto it = table_->find(key);
    if (it == table_->end() || !it->second->String) return english;
    return *it->second->String;
}

AccessTexts LanguageTexts::access(const std::string& key) const {
    return {text(key + ".Mnemonic", ""), text(key + ".Name", ""), text(key + ".Description", "")};
}

std::string LanguageTexts::fill(std::string text, const std::map<std::string, std::string>& values) {
    // One pass, so that a value (an error text, an address) is never read as a marker.
    std::string out;
    std::size_t from = 0;
    for (std::size_t open = text.find('{'); open != std::string::npos; open = text.find('{', from)) {
        const std::size_t close = text.find('}', open);
        if (close == std::string::npos) break;
        const auto value = values.find(text.substr(open + 1, close - open - 1));
        out.append(text, from, open - from);
        if (value == values.end()) {
            out += '{';
            from = open + 1;
        } else {
            out += value->second;
            from = close + 1;
        }
    }
    return out.append(text, from, std::string::npos);
}
