// The broadcast protocol's wire format: the 148-byte search request and the
// decoding of a device's 148-byte answer. Owns no socket, log or state; the
// worker keeps the repeat filter, the log lines and the hand-over.
#pragma once

#include <cstddef>
#include <string_view>

#include "Common/CommonStruct.h"

// The default search request: 0B 01 00 00 FF FF FF FF and 140 zero bytes.
dhcppacket DefaultSearchPacket();

enum class BroadcastVerdict {
    Ignored,    // not 148 bytes: dropped without a trace
    NotDevice,  // 148 bytes, but op is not the answer's
    Device,     // the record is filled
};

// Decodes one datagram from sender (dotted decimal, cut at 31 characters).
// The record is written only for Device: code, sender and the four options.
BroadcastVerdict DecodeBroadcastAnswer(std::string_view datagram, std::string_view sender,
                                       deviceinfo& record);

// Copies the answer's code and its four option values into the record.
void ReadBroadcastFields(const dhcppacket& packet, deviceinfo& record);

// The option text: the 128-byte area up to its first zero byte, which a
// sender need not write.
std::string_view OptionText(const char* options);

// Looks up one key in the option text; keys match only at the start of the
// text or right after '&'. On a match the value (up to the next '&', at most
// maxLen characters) is written to field with its terminator: field needs
// maxLen + 1 bytes. A missed key leaves the field alone.
bool FindOptionValue(std::string_view options, std::string_view key, char* field, std::size_t maxLen);
