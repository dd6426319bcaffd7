// diskfont: character set information.
#pragma once

#include "sdk/exec.h"

#define DFCS_NUMBER   0x8B000000u   // known: a code set number
#define DFCS_MAPTABLE 0x8B000004u   // wanted: 256 ULONG code points

struct DiskfontIFace {
    InterfaceData Data;
    // The wanted item, or 0 when the code set has none.
    uintptr_t (*ObtainCharsetInfo)(ULONG knownTag, ULONG knownValue, ULONG wantedTag);
};
