// The decoders on saved datagrams, one file per case in datagrams/ssdp and
// datagrams/broadcast (see datagrams/README.md): no socket, no worker.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <string>

#include "Protocol/BroadcastCodec.h"
#include "Protocol/SsdpCodec.h"
#include "TestFiles.h"

namespace {

namespace fs = std::filesystem;

struct Case {
    std::map<std::string, std::string> header;
    std::string datagram;
};

// A case file: header lines ("key: value", or a # comment) up to the first
// empty line, then the body. SSDP body lines end in CRLF unless a backslash
// ends them; a broadcast body is the option text. Escapes: \0 \t \r.
Case Load(const fs::path& file, bool ssdp) {
    Case c;
    const std::string text = testfiles::readFile(file);
    const std::size_t split = text.find("\n\n");
    const std::string header = text.substr(0, split);
    const std::regex field("(?:^|\n)(\\w+): ([^\n]*)");
    for (std::sregex_iterator m(header.begin(), header.end(), field), end; m != end; ++m)
        c.header[(*m)[1].str()] = (*m)[2].str();
    std::string body = std::regex_replace(text.substr(split + 2), std::regex("\\\\\n"), "");
    body = std::regex_replace(body, std::regex("\n"), ssdp ? "\r\n" : "");
    const std::pair<const char*, char> escapes[] = {{"\\\\0", '\0'}, {"\\\\t", '\t'}, {"\\\\r", '\r'}};
    for (const auto& [escape, byte] : escapes)
        body = std::regex_replace(body, std::regex(escape), std::string(1, byte));
    if (ssdp) return c.datagram = body, c;

    auto number = [&](const char* key, int fallback) {
        return c.header.count(key) ? std::stoi(c.header[key]) : fallback;
    };
    c.datagram = {static_cast<char>(number("op", 12)), static_cast<char>(number("code", 1)), 0, 0};
    c.datagram += std::string(4, '\xFF') + std::string(12, '\0') + body;
    c.datagram.resize(static_cast<std::size_t>(number("size", 148)), '\0');
    return c;
}

// "id|ip|host|product|extra|version|factory|type". A text with stray bytes
// after its terminator, or a lifetime other than 60, shows as such: the list
// compares and copies whole fields.
std::string Fields(const deviceinfo& d) {
    std::string out;
    for (const char* text : {d.id, d.ip, d.host, d.product, d.extra, d.version, d.factory}) {
        const std::size_t n = strnlen(text, 32);
        const bool clean = n < 32 && std::all_of(text + n, text + 32, [](char b) { return b == 0; });
        out += std::string(text, n) + (clean ? "|" : "<unterminated>|");
    }
    return out + std::to_string(d.type) + (d.lifetime == 60 ? "" : " lifetime " + std::to_string(d.lifetime));
}

// What a case's datagram gives, decoded from an exactly sized copy (so that
// nothing is read past it) into a record full of stale bytes. The worker
// traces a broadcast datagram that is not a device, and ignores one of the
// wrong size without a trace.
std::string Decoded(const Case& c, bool ssdp) {
    auto exact = std::make_unique<char[]>(c.datagram.size());
    c.datagram.copy(exact.get(), c.datagram.size());
    const std::string_view datagram(exact.get(), c.datagram.size());
    const std::string sender = c.header.count("sender") ? c.header.at("sender")
                               : ssdp                   ? "198.51.100.77"
                                                        : "192.168.1.20";
    deviceinfo record;
    std::memset(static_cast<void*>(&record), 0x5A, sizeof record);
    if (ssdp) return DecodeSsdpMessage(datagram, sender, record) ? Fields(record) : "none";
    const BroadcastVerdict verdict = DecodeBroadcastAnswer(datagram, sender, record);
    return verdict == BroadcastVerdict::Device      ? Fields(record)
           : verdict == BroadcastVerdict::NotDevice ? "not a device"
                                                    : "ignored";
}

TEST(Decode, SavedDatagramsGiveTheirRecordsOrNone) {
    for (const char* protocol : {"ssdp", "broadcast"}) {
        const bool ssdp = protocol[0] == 's';
        std::size_t cases = 0;
        for (const auto& file : fs::directory_iterator(fs::path(NASSCOUT_DATAGRAMS) / protocol)) {
            if (file.path().extension() != ".txt") continue;
            const Case c = Load(file.path(), ssdp);
            EXPECT_EQ(Decoded(c, ssdp), c.header.at("expect")) << file.path();
            ++cases;
        }
        EXPECT_GE(cases, 10u) << protocol;
    }
}

}  // namespace
