// What the fuzz targets share: the module's code wired to the stand-in once, the code set
// an input picks, and the checks that end a run with abort() so the fuzzer keeps the input.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "module/sheaf.h"
#include "platform/platform.h"
#include "tabulon/host.h"
#include "xml/xml.h"

static inline void FuzzSetup()
{
    static IOType io;
    static bool done = false;
    if (done)
        return;
    done = true;
    platform::StartModule(InitModule, &io, tabulon::ServiceTable());
    SetCharsetMap(platform::CharsetMap(CODESET_ISO_8859_1));
}

// Makes one of the code sets the stand-in knows, the pick-th modulo their number, the
// system's; the module's maps follow it, as GetImportantData would make them.
static inline void FuzzCodeSet(uint8_t pick)
{
    static std::vector<ULONG> codesets;
    if (codesets.empty())
        for (const std::string &name : platform::CodeSetNames())
            codesets.push_back(platform::CodeSetByName(name.c_str()));
    ULONG codeset = codesets[pick % codesets.size()];
    platform::SetCodeSet(codeset);
    SetCharsetMap(platform::CharsetMap(codeset));
}

// The start of a run on an input whose header begins with the code set's pick: false when
// the input is shorter than its header.
static inline bool FuzzBegin(const uint8_t *data, size_t size, size_t header)
{
    if (size < header)
        return false;
    FuzzSetup();
    platform::Reset();
    FuzzCodeSet(data[0]);
    return true;
}

// A property of the module's output did not hold: say which and stop.
[[noreturn]] static inline void FuzzViolated(const char *what, std::string_view detail = {})
{
    fprintf(stderr, "fuzz: %s", what);
    if (!detail.empty())
        fprintf(stderr, ": \"%.*s\"", (int)detail.size(), detail.data());
    fprintf(stderr, "\n");
    abort();
}

// TRUE when text is well-formed UTF-8: shortest forms, no surrogates, nothing past U+10FFFF.
static inline bool FuzzUtf8(std::string_view text)
{
    size_t i = 0, n = text.size();
    while (i < n) {
        uint8_t c = (uint8_t)text[i];
        uint32_t cp, need;
        if (c < 0x80) {
            i++;
            continue;
        }
        if (c >= 0xC2 && c <= 0xDF) {
            cp = c & 0x1F;
            need = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            cp = c & 0x0F;
            need = 2;
        } else if (c >= 0xF0 && c <= 0xF4) {
            cp = c & 0x07;
            need = 3;
        } else {
            return false;
        }
        if (n - i - 1 < need)
            return false;
        for (uint32_t k = 1; k <= need; k++) {
            uint8_t d = (uint8_t)text[i + k];
            if ((d & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        if ((need == 2 && cp < 0x800) || (need == 3 && cp < 0x10000) || cp > 0x10FFFF ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += need + 1;
    }
    return true;
}

// Nothing of the system is held: files, memory, pools, libraries, interfaces, locales, locks.
static inline void FuzzNothingHeld(const char *after)
{
    static char what[160];
    const char *held = platform::HeldResource();
    if (held == nullptr)
        return;
    snprintf(what, sizeof(what), "%s after %s", held, after);
    FuzzViolated(what);
}
