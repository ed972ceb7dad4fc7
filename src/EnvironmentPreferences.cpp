#include "EnvironmentPreferences.h"

#include <cstdlib>

#include "LanguageChoice.h"

std::vector<std::string> EnvironmentPreferences::preferredLanguages() const {
    const auto code = languageFromEnvironment([](const char* name) { return std::getenv(name); });
    if (!code) return {};
    return {*code};
}
