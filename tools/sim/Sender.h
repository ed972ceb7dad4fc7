// One-shot senders: raw datagrams from files, and floods of answers.
#pragma once

#include "Endpoint.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct RawOptions {
    Endpoint to;
    std::optional<Endpoint> from;
    long repeat = 1;
    double interval = 0;  // seconds between rounds
    std::vector<std::string> files;
    bool allowAnyDestination = false;
};

struct FloodOptions {
    bool ssdp = false;  // else broadcast answers
    Endpoint to;
    long count = 0;
    double rate = 0;  // answers per second; 0: as fast as possible
    std::vector<std::uint32_t> from;  // empty: every local lab address
    std::string maker = "ORVALE";
    std::string idPrefix = "FLOOD";
    bool allowAnyDestination = false;
};

class Sender {
public:
    static constexpr std::size_t kMaxDatagram = 65507;

    // Both throw SimError; flood returns the number of answers sent.
    static void raw(const RawOptions& options);
    static long flood(const FloodOptions& options);
};
