#pragma once

#include <string>

#include "Common/SearchTargets.h"
#include "LanguageTexts.h"

// Why a list of search targets was refused, naming the offending item, in
// the language of texts (English where it has no entry).
std::string searchTargetsErrorText(const SearchTargetError& error, const LanguageTexts& texts);
