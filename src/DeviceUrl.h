#pragma once

#include <string>

// "scheme://a.b.c.d" when `ip` is exactly a dotted-quad IPv4 address (four
// decimal octets 0-255, no leading zeros, nothing around them), else "".
// The address comes from the network, so nothing else may reach the desktop's
// URL handlers.
std::string deviceUrl(const std::string& scheme, const std::string& ip);
