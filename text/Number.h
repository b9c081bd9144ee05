#pragma once
// Integer text as the wizard reads it from its fields (the delay) and from the
// comparison report (module line ranges).

#include <cstdint>
#include <string_view>

namespace text {

// Leading blanks, an optional sign, then decimal digits, or hexadecimal digits
// after "$", "x", "X", "0x" or "0X"; nothing may follow. Decimal values must
// lie in the signed 32-bit range; hexadecimal ones may use all 32 bits (so
// "$FFFFFFFF" is -1). Anything else throws text::TError
// "'%s' is not a valid integer value" with the whole text.
std::int32_t StrToInt(std::string_view s);

}  // namespace text
