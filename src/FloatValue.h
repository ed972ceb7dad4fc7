#pragma once

#include <string_view>

// The leading decimal number of a text, as single precision: leading blanks
// skipped, "." as the decimal point whatever the locale, an optional sign and
// exponent; 0 when the text does not start with a finite number.
float floatValue(std::string_view text);
