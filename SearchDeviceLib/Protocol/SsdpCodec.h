// The SSDP-style protocol's wire format on 239.143.255.250:1900: the M-SEARCH
// request, and the decoding of answers and NOTIFY alive/byebye announcements
// into records. Owns no socket, log or state; the worker keeps the repeat
// filter, the log lines and the hand-over.
#pragma once

#include <string_view>

#include "Common/CommonStruct.h"

// The 129-byte M-SEARCH request for the device type, without a terminator.
std::string_view SsdpSearchRequest();

// Decodes one message into the record; its text ends at its first zero byte.
// sender is the sending address in dotted decimal, the record's address when
// the message has no LOCATION. False when the message is not a device's; the
// record then holds nothing of use.
//
// Header names are case-sensitive and found anywhere in the text, not only at
// a line start, and each search runs to the end of the text.
bool DecodeSsdpMessage(std::string_view datagram, std::string_view sender, deviceinfo& record);
