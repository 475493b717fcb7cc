#pragma once
// The modulation-routing text: one row per line, fields "KEY=value" separated by ";", matched
// after upper-casing. A row names a source, a destination and how the one drives the other.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ZRS {

struct ModRouteRow
{
    std::string source;       // source keyword, upper case
    std::string destination;  // parameter address, upper case
    std::string control;      // optional control source keyword
    uint32_t sourceFunction = 0;
    uint32_t controlFunction = 0;
    float minimum = -9999.0f;
    float maximum = 9999.0f;
    float offset = 0.0f;
    float amount = 1.0f;
    uint8_t combine = 2;        // math mode: 1 replace, 2 offset, 4 accum, 8 scale
    uint16_t zoneMask = 0xFFFF;  // bit z: zone z
};

// Transfer-function keyword to code 0-9 ("LINEAR_INV" 1 ... "SWITCH_INV" 9); anything else,
// and any length outside 4..11, gives 0 (linear).
uint32_t parseRouteFunction(const char* text, size_t length);
// "REPLACE" 1, "ACCUM" 4, "SCALE" 8, anything else 2 (offset).
uint8_t parseRouteMath(const char* text, size_t length);
// False when the source or destination is empty, or when inverted with a negative amount;
// an accepted inverted row has its amount negated.
bool validateRouteRow(ModRouteRow& row, bool invert);
// The nominal range of a source keyword; false for one without a range.
bool modSourceRange(std::string_view keyword, float& minimum, float& maximum);

// Fills `row` (reset to the defaults first) from one line; true when the row is accepted.
bool parseRouteRow(const std::string& line, ModRouteRow& row);

// Note-expression source keyword ("EXP_VOLUME" ... "EXP_EXTRA") to its type 0-7, else -1.
int32_t expressionSourceType(std::string_view keyword);

// Leading decimal numbers as "%d" and "%zu" read them: blanks, an optional sign, digits; false
// when no digit follows. "%d" saturates; "%zu" wraps a negative number and saturates a big one.
bool readDecimalInt(std::string_view text, int32_t& out);
bool readDecimalSize(std::string_view text, uint64_t& out);

}  // namespace ZRS
