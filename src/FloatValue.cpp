#include "FloatValue.h"

#include <charconv>
#include <cmath>

namespace {
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
}  // namespace

float floatValue(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    // Only digits or "." then a digit start a number; "inf" and "nan" do not.
    const std::string_view rest = text.substr(i);
    const bool starts = !rest.empty() && (isDigit(rest[0]) || (rest[0] == '.' && rest.size() > 1 && isDigit(rest[1])));
    if (!starts) return 0.0f;
    float value = 0.0f;
    const auto [ptr, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), value, std::chars_format::general);
    (void)ptr;
    if (ec != std::errc() || !std::isfinite(value)) return 0.0f;
    return negative ? -value : value;
}
