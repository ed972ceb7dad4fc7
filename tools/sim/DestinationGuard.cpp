#include "DestinationGuard.h"

#include "Net/Ipv4.h"
#include "Endpoint.h"
#include "SimError.h"

bool DestinationGuard::isLabAddress(std::uint32_t address) {
    const std::uint32_t net = address & 0xFFFFFF00u;
    return net == 0xC6336400u /* 198.51.100.0 */ || net == 0xCB007100u /* 203.0.113.0 */ ||
           isRoutedAddress(address) ||
           (address & 0xFFFF0000u) == 0xA9FE0000u /* 169.254.0.0/16: never routed, so it stays on its link */;
}

bool DestinationGuard::allowsDestination(std::uint32_t address) const {
    return m_allowAny || isLabAddress(address) || address == kGroup || address == kBroadcast;
}

bool DestinationGuard::allowsSource(std::uint32_t address) const {
    return m_allowAny || isLabAddress(address);
}

std::string DestinationGuard::refusalHint() {
    return "only 198.51.100.0/24, 203.0.113.0/24, 198.18.10.0/24, 169.254.0.0/16, 239.143.255.250 and "
           "255.255.255.255 are allowed"
           " (--allow-any-destination lifts this)";
}

void DestinationGuard::checkDestination(std::uint32_t address) const {
    if (!allowsDestination(address))
        throw SimError(SimError::kUsage,
                       "refusing to send to " + net::Ipv4Text(address) + ": " + refusalHint());
}

void DestinationGuard::checkSource(std::uint32_t address, const std::string& what) const {
    if (!allowsSource(address))
        throw SimError(SimError::kUsage, "refusing to send from " + net::Ipv4Text(address) + " (" + what +
                                             "): it is outside the lab networks 198.51.100.0/24, "
                                             "203.0.113.0/24, 198.18.10.0/24 and 169.254.0.0/16"
                                             " (--allow-any-destination lifts this)");
}
