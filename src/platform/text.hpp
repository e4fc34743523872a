// Text helpers shared by the project file reader/writer and the table sync.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace charstack::text {

// The leading integer of a text: leading white space is skipped, then an optional '+' or '-', then
// decimal digits up to the first other character. No digits gives 0; a number outside the signed
// 32-bit range gives INT32_MAX or INT32_MIN.
int32_t intValue(std::string_view text);

// "%ld" of a 64-bit value and "%d" of a 32-bit value.
std::string formatLong(int64_t value);
std::string formatInt(int32_t value);

// All pieces between the separators, in order, empty pieces included. A text without the separator
// gives one piece (the whole text). The separator must not be empty.
std::vector<std::string_view> split(std::string_view text, std::string_view separator);

bool contains(std::string_view text, std::string_view part);

bool isValidUtf8(std::string_view bytes);
// The bytes decoded as UTF-8, every invalid sequence replaced by U+FFFD.
std::string toValidUtf8(std::string_view bytes);

}  // namespace charstack::text
