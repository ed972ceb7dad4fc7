#pragma once

#include <optional>
#include <string>

#include "LanguageTexts.h"
#include "platform/KnownBoxes.h"

// The setting that turns the known boxes off: false, no, off or 0.
constexpr const char* kRememberBoxesSetting = "remember_boxes";
bool rememberBoxes(const std::optional<std::string>& setting);

// "nas-office is now at 198.51.100.23, was 198.51.100.10"
std::string boxMovedText(const KnownBoxes::Moved& moved, const LanguageTexts& texts);
std::string boxProblemText(const KnownBoxes::Problem& problem, const LanguageTexts& texts);
// A row's tooltip: maker, firmware version, first and last seen (UTC) where known.
std::string boxToolTip(const deviceinfo& record, const std::optional<KnownBoxes::Facts>& facts,
                       const LanguageTexts& texts);
