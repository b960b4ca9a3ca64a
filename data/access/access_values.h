#pragma once

#include <cstddef>
#include <string>

// How Access stores a value, read into the form the copy keeps. Nothing here touches a file:
// each function takes the value's bytes (or number) and gives its text, or false when the
// bytes are not a value of that kind.
namespace velario::data::access {

// A date/time (days since 1899-12-30, the time of day as the fraction) as
// 'YYYY-MM-DD HH:MM:SS'; false outside the years 100 to 9999 that Access takes.
bool isoDateTime(double value, char (&out)[24]);

// The double that prints as the shortest decimal reading back as VALUE.
double singleAsDouble(float value);

// An extended date/time as 'YYYY-MM-DD HH:MM:SS.fffffff'; false when DATA is not one.
bool isoExtendedDateTime(const unsigned char* data, size_t size, char (&out)[40]);

// The decimal result of a calculated column as plain decimal text; false when DATA is not one.
bool calculatedDecimal(const unsigned char* data, size_t size, std::string* out);

// Text of a Jet 4 or later file (UTF-16, or compressed after an FF FE mark) as UTF-16.
void unicodeText(const unsigned char* data, size_t size, std::u16string* out);

} // namespace velario::data::access
