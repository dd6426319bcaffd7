// The sheet choices of the sheaf command: the module's preferences for a sheet given by
// name, file names for pages written one file each, and the line naming a sheet that is
// not in the workbook.
#include "tabulon/host.h"

#include <cstring>

#include "platform/platform.h"

namespace tabulon {

// The next code point of UTF-8 text at *p, moving past it; -1 for a malformed sequence.
static long NextCodePoint(const unsigned char *&p)
{
    unsigned char c = *p++;
    int more = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2
             : (c & 0xF8) == 0xF0 ? 3 : -1;
    if (more < 0)
        return -1;
    long cp = more == 0 ? c : c & (0x3F >> more);
    for (int k = 0; k < more; k++, p++) {
        if ((*p & 0xC0) != 0x80)
            return -1;
        cp = (cp << 6) | (*p & 0x3F);
    }
    return cp;
}

// UTF-8 text in the 8-bit charset; false when a character is not in it.
static bool FromUtf8(const std::string &utf8, ULONG codeset, std::string &out)
{
    const ULONG *map = platform::CharsetMap(codeset);
    const unsigned char *p = (const unsigned char *)utf8.c_str();
    out.clear();
    while (*p != 0) {
        long cp = NextCodePoint(p);
        int found = -1;
        for (int b = 1; b < 256 && found < 0 && cp > 0; b++)
            if ((map != nullptr ? (long)map[b] : (long)b) == cp)
                found = b;
        if (found < 0)
            return false;
        out += (char)found;
    }
    return true;
}

std::string SheetPrefs(const std::string &name, ULONG codeset)
{
    std::string local;
    if (!FromUtf8(name, codeset, local))
        return "";
    // Inside quotes the system's escape character is "*".
    std::string prefs = "SHEET=\"";
    for (char c : local) {
        if (c == '\n' || c == '\r')
            return "";
        if (c == '"' || c == '*')
            prefs += '*';
        prefs += c;
    }
    return prefs + "\"";
}

std::string PageFileName(const Sheet &sheet, size_t index, ULONG codeset,
                         std::set<std::string> &taken, const char *ext)
{
    std::string base = ToUtf8(sheet.page.pg_Node.ln_Name, codeset);
    for (char &c : base)
        if (c == '/' || (unsigned char)c < 0x20)
            c = '_';
    if (!base.empty() && base[0] == '.')
        base[0] = '_';
    if (base.empty())
        base = "page" + std::to_string(index + 1);
    std::string name = base + ext;
    // Names differ in the workbook, but may meet here: case, or a character changed above.
    std::string key;
    for (int n = 2;; n++) {
        key = name;
        for (char &c : key)
            c = (char)tolower((unsigned char)c);
        if (taken.insert(key).second)
            return name;
        name = base + "-" + std::to_string(n) + ext;
    }
}

// Names compared as the module does for the letters of ASCII and Latin-1.
static bool SameName(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); i++) {
        unsigned char x = (unsigned char)a[i], y = (unsigned char)b[i];
        auto fold = [](unsigned char c) {
            return (c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) ? c + 32 : c;
        };
        if (fold(x) != fold(y))
            return false;
    }
    return true;
}

std::string MissingSheet(const std::string &wanted, const Sheet &list, ULONG codeset)
{
    std::string local, names;
    bool known = FromUtf8(wanted, codeset, local);
    size_t worksheets = 0;
    std::vector<PlacedCell> cells = Placed(list);
    for (size_t i = 0; i < cells.size(); i++) {
        // A worksheet's row starts with its position in column A; column B has its name.
        if (cells[i].col != 1 || i + 1 >= cells.size() || cells[i + 1].row != cells[i].row ||
            cells[i + 1].col != 2)
            continue;
        const char *name = cells[i + 1].text;
        if (known && SameName(local, name))
            return "";
        worksheets++;
        names += (names.empty() ? "\"" : ", \"") + ToUtf8(name, codeset) + "\"";
    }
    bool digits = !wanted.empty() && wanted.find_first_not_of("0123456789") == std::string::npos;
    if (digits && wanted.size() < 10 && std::stoul(wanted) >= 1 && std::stoul(wanted) <= worksheets)
        return "";
    return "no worksheet \"" + wanted + "\"; the worksheets are " +
           (names.empty() ? std::string("none") : names);
}

}  // namespace tabulon
