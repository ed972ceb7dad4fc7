#include "SearchTargetsText.h"

std::string searchTargetsErrorText(const SearchTargetError& error, const LanguageTexts& t) {
    std::string line;
    switch (error.reason) {
        case SearchTargetError::Reason::None:
            return {};
        case SearchTargetError::Reason::EmptyItem:
            line = t.text("Other networks.Empty item", "'{item}': a comma too many leaves an empty item");
            break;
        case SearchTargetError::Reason::NotAddress:
            line = t.text("Other networks.Not address",
                          "'{item}' is not an IPv4 address or network such as 10.1.20.7 or 10.1.20.0/24");
            break;
        case SearchTargetError::Reason::BadPrefix:
            line = t.text("Other networks.Bad prefix", "'{item}': a network must be /16 to /32");
            break;
        case SearchTargetError::Reason::NotUnicast:
            line =
                t.text("Other networks.Not unicast",
                       "'{item}' cannot be asked directly: it is a broadcast, multicast or reserved address");
            break;
    }
    return LanguageTexts::fill(line, {{"item", error.item}});
}
