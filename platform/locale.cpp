// locale of the stand-in: the user's locale with the chosen code set, and the character
// classes of Latin-1.
#include "platform/internal.h"

namespace platform {

static ULONG codeSet = CODESET_ISO_8859_1;
static int   openLocales;
static char  localeName[]   = "english.language";
static char  languageName[] = "english";

void SetCodeSet(ULONG codeset)
{
    codeSet = codeset;
}

ULONG CodeSet()
{
    return codeSet;
}

int OpenLocales()
{
    return openLocales;
}

// Every name gives the user's locale: the stand-in knows no other.
static Locale *OpenLocale(CONST_STRPTR)
{
    if (faults.localeFails || Fails("OpenLocale"))
        return nullptr;
    Locale *user = new Locale{localeName, languageName, codeSet};
    openLocales++;
    return user;
}

static void CloseLocale(Locale *user)
{
    if (user == nullptr)
        return;
    delete user;
    openLocales--;
}

static BOOL IsDigit(Locale *, ULONG c)
{
    return c >= '0' && c <= '9';
}

static BOOL IsAlpha(Locale *, ULONG c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
        return TRUE;
    if (c == 0xAA || c == 0xB5 || c == 0xBA)
        return TRUE;
    return c >= 0xC0 && c <= 0xFF && c != 0xD7 && c != 0xF7;
}

static BOOL IsAlNum(Locale *user, ULONG c)
{
    return IsDigit(user, c) || IsAlpha(user, c);
}

LocaleIFace locale = {
    .Data        = {.Link = {}, .LibBase = nullptr, .RefCount = 1, .Version = 1},
    .OpenLocale  = OpenLocale,
    .CloseLocale = CloseLocale,
    .IsDigit     = IsDigit,
    .IsAlNum     = IsAlNum,
    .IsAlpha     = IsAlpha,
};

}  // namespace platform
