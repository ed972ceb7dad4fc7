#pragma once

#include <functional>
#include <optional>
#include <string>

// The language file for a preferred language code: "XML_pt", "XML_de", ...;
// any code without its own file, or none, gives "XML_en". Exact match only.
std::string languageResourceName(const std::optional<std::string>& code);

// The user's first preferred language code from LANGUAGE (its first entry),
// LC_ALL, LC_MESSAGES or LANG, the first that is set and not empty, reduced to
// the language part ("de_DE.UTF-8" -> "de"); none for C, POSIX or nothing set.
std::optional<std::string> languageFromEnvironment(const std::function<const char*(const char*)>& getenv);
