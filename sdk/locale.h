// locale: the user's locale, its code set and character classes.
#pragma once

#include "sdk/exec.h"

// Code sets are IANA MIB enums.
#define CODESET_ISO_8859_1   4
#define CODESET_ISO_8859_2   5
#define CODESET_ISO_8859_15  111
#define CODESET_UTF_8        106
#define CODESET_WINDOWS_1252 2252

struct Locale {
    STRPTR loc_LocaleName;
    STRPTR loc_LanguageName;
    ULONG  loc_CodeSet;
};

struct LocaleIFace {
    InterfaceData Data;
    Locale *(*OpenLocale)(CONST_STRPTR name);      // NULL: the user's default
    void    (*CloseLocale)(Locale *locale);
    BOOL    (*IsDigit)(Locale *locale, ULONG character);
    BOOL    (*IsAlNum)(Locale *locale, ULONG character);
    BOOL    (*IsAlpha)(Locale *locale, ULONG character);
};
