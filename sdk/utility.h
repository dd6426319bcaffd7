// utility: bounded string routines and UTF-8 decoding.
#pragma once

#include "sdk/exec.h"

// UTF8toUCS4 flags: a byte that is not valid UTF-8 gives U+FFFD instead of ending the text.
#define UTF_INVALID_SUBST_FFFD 1u

struct UtilityIFace {
    InterfaceData Data;
    uint32 (*Strlen)(CONST_STRPTR string);
    int32  (*Strlcpy)(STRPTR dst, CONST_STRPTR src, int32 size);    // strlen(src)
    int32  (*Strlcat)(STRPTR dst, CONST_STRPTR src, int32 size);    // wanted length
    int32  (*Stricmp)(CONST_STRPTR a, CONST_STRPTR b);
    int32  (*Strnicmp)(CONST_STRPTR a, CONST_STRPTR b, int32 length);
    void   (*ClearMem)(APTR memory, uint32 size);
    int32  (*UTF8toUCS4)(CONST_STRPTR utf8, int32 *ucs4, int32 ucs4len, uint32 flags);
};
