#pragma once
// A GUID read from its text, as a vault view's desktop.ini holds its identities.
#include <cstdint>

#include "common/CodeUnit.h"

// The eleven fields of a GUID in the order its text gives them.
struct GuidFields {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::uint8_t data4[8] = {};
};

// Reads "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" as the identities have always
// been read, by swscanf with "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
// so that a file reads the same as before:
// - the text starts with the brace; the closing brace and whatever follows the
//   last field are never looked at;
// - a field may follow ASCII white space, may hold fewer digits than its width,
//   and may start with a sign (a minus negates it, modulo 2^32) and then "0x";
//   sign and prefix count toward the width, the white space does not;
// - a dash must follow its field at once;
// - a code unit outside ASCII matches nothing (swscanf left those to the C
//   runtime's character tables, which differ between runtimes).
// False, with out unwritten, unless all eleven fields were read.
bool ParseGuidText(UnitView text, GuidFields& out) noexcept;
