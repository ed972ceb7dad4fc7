#include "LanguageChoice.h"

#include <array>
#include <utility>

std::string languageResourceName(const std::optional<std::string>& code) {
    static const std::array<std::pair<const char*, const char*>, 8> kFiles{{
        {"pt", "XML_pt"}, {"de", "XML_de"}, {"fr", "XML_fr"}, {"es", "XML_es"},
        {"it", "XML_it"}, {"nl", "XML_nl"}, {"da", "XML_da"}, {"pl", "XML_pl"},
    }};
    if (code)
        for (const auto& [lang, file] : kFiles)
            if (*code == lang) return file;
    return "XML_en";
}

std::optional<std::string> languageFromEnvironment(const std::function<const char*(const char*)>& getenv) {
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* raw = getenv(name);
        if (!raw) continue;
        std::string value(raw);
        if (std::string_view(name) == "LANGUAGE") value = value.substr(0, value.find(':'));
        if (value.empty()) continue;
        // language[_territory][.codeset][@modifier]
        const std::string code = value.substr(0, value.find_first_of("_.@"));
        if (code.empty() || code == "C" || code == "POSIX") return std::nullopt;
        return code;
    }
    return std::nullopt;
}
