// The safety net that keeps simulated discovery traffic inside the lab:
// destinations must be lab addresses, the search group or the limited
// broadcast, and the sending address must be a lab address, unless the
// user explicitly allows any destination.
#pragma once

#include <cstdint>
#include <string>

class DestinationGuard {
public:
    static constexpr std::uint32_t kGroup = 0xEF8FFFFA;       // 239.143.255.250
    static constexpr std::uint32_t kBroadcast = 0xFFFFFFFF;   // 255.255.255.255

    explicit DestinationGuard(bool allowAny) : m_allowAny(allowAny) {}

    // 198.51.100.0/24, 203.0.113.0/24, 198.18.10.0/24 (the lab's routed subnet) or 169.254.0.0/16.
    static bool isLabAddress(std::uint32_t address);
    // 198.18.10.0/24.
    static bool isRoutedAddress(std::uint32_t address) { return (address & 0xFFFFFF00u) == 0xC6120A00u; }

    bool allowsDestination(std::uint32_t address) const;
    bool allowsSource(std::uint32_t address) const;
    // Throw SimError (usage) with a message that names the way out.
    void checkDestination(std::uint32_t address) const;
    void checkSource(std::uint32_t address, const std::string& what) const;

    static std::string refusalHint();

private:
    bool m_allowAny;
};
