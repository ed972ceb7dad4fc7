#include "KnownBoxesText.h"

#include <cstring>

namespace {

std::string field(const char (&text)[32]) { return std::string(text, strnlen(text, sizeof text)); }

std::string utc(std::time_t t) {
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &tm);
    return text;
}

}  // namespace

bool rememberBoxes(const std::optional<std::string>& setting) {
    if (!setting) return true;
    std::string v;
    for (char c : *setting)
        if (c != ' ') v += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return v != "false" && v != "no" && v != "off" && v != "0";
}

std::string boxMovedText(const KnownBoxes::Moved& m, const LanguageTexts& texts) {
    return LanguageTexts::fill(texts.text("Status Moved", "{host} is now at {ip}, was {old}"),
                               {{"host", m.host.empty() ? m.from : m.host}, {"ip", m.ip}, {"old", m.from}});
}

std::string boxProblemText(const KnownBoxes::Problem& p, const LanguageTexts& texts) {
    if (p.damaged)
        return LanguageTexts::fill(
            texts.text("Status Known Damaged",
                       "The list of known boxes was damaged; it was moved to {file} and a new one started."),
            {{"file", p.file}});
    return LanguageTexts::fill(
        texts.text("Status Known Not Saved", "Known boxes cannot be saved in {file}: {reason}"),
        {{"file", p.file}, {"reason", p.reason}});
}

std::string boxToolTip(const deviceinfo& record, const std::optional<KnownBoxes::Facts>& facts,
                       const LanguageTexts& texts) {
    std::string version = field(record.version);
    if (version.empty() && facts) version = facts->version;
    std::string tip = LanguageTexts::fill(texts.text("Tooltip Maker", "Maker: {maker}"),
                                          {{"maker", field(record.factory)}});
    if (!version.empty())
        tip += "\n" + LanguageTexts::fill(texts.text("Tooltip Firmware", "Firmware version: {version}"),
                                          {{"version", version}});
    if (facts) {
        tip += "\n" + LanguageTexts::fill(texts.text("Tooltip First Seen", "First seen: {time}"),
                                          {{"time", utc(facts->firstSeen)}});
        tip += "\n" + LanguageTexts::fill(texts.text("Tooltip Last Seen", "Last seen: {time}"),
                                          {{"time", utc(facts->lastSeen)}});
    }
    return tip;
}
