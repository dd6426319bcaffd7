// dos of the stand-in, argument parsing: ReadArgs on a text given in an RDArgs, with the
// templates' /A, /K, /S and /N, quotes with their "*" escapes, and "KEY=value". The other
// modifiers are refused as a bad template; no prompting, no command line of the process.
#include <cstdarg>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/internal.h"

namespace platform {

// What one template item takes.
struct TemplateItem {
    std::vector<std::string> names;     // the keyword and its aliases
    bool required = false, keyword = false, toggle = false, number = false;
    bool given = false;
};

// The values each parsed RDArgs holds until FreeArgs.
struct Parsed {
    std::vector<std::string> texts;
    std::vector<int32>       numbers;
};
static std::map<RDArgs *, Parsed> parsed;

static bool ParseTemplate(const char *tmpl, std::vector<TemplateItem> &items)
{
    std::string all(tmpl);
    size_t start = 0;
    while (start <= all.size()) {
        size_t comma = all.find(',', start);
        std::string item = all.substr(start, comma == std::string::npos ? std::string::npos
                                                                          : comma - start);
        TemplateItem t;
        size_t slash = item.find('/');
        std::string names = item.substr(0, slash);
        for (size_t k = slash; k != std::string::npos && k + 1 < item.size(); k = item.find('/', k + 1)) {
            switch (item[k + 1] | 0x20) {
            case 'a': t.required = true; break;
            case 'k': t.keyword = true; break;
            case 's': t.toggle = true; break;
            case 'n': t.number = true; break;
            default: return false;
            }
        }
        for (size_t a = 0; a <= names.size();) {
            size_t eq = names.find('=', a);
            t.names.push_back(names.substr(a, eq == std::string::npos ? std::string::npos : eq - a));
            if (t.names.back().empty())
                return false;
            a = eq == std::string::npos ? names.size() + 1 : eq + 1;
        }
        items.push_back(t);
        start = comma == std::string::npos ? all.size() + 1 : comma + 1;
    }
    return !items.empty();
}

// The source as ReadItem reads it: up to the line end or CS_Length.
struct Source {
    const char *text;
    int32 length, pos;
    int Peek() const { return pos < length && text[pos] != '\n' ? (unsigned char)text[pos] : -1; }
    void SkipBlanks()
    {
        while (Peek() == ' ' || Peek() == '\t')
            pos++;
    }
};

enum { ITEM_NOTHING, ITEM_QUOTED, ITEM_UNQUOTED, ITEM_EQUAL, ITEM_ERROR };

// The next item of the source into out: a quoted text with its escapes undone, a word up to
// a blank, "=" or the line end, or a lone "=".
static int ReadItem(Source &s, std::string &out)
{
    out.clear();
    s.SkipBlanks();
    int c = s.Peek();
    if (c < 0)
        return ITEM_NOTHING;
    if (c == '=') {
        s.pos++;
        return ITEM_EQUAL;
    }
    if (c != '"') {
        while ((c = s.Peek()) >= 0 && c != ' ' && c != '\t' && c != '=')
            out += (char)c, s.pos++;
        return ITEM_UNQUOTED;
    }
    for (s.pos++;;) {
        c = s.Peek();
        if (c < 0)
            return ITEM_ERROR;
        s.pos++;
        if (c == '"')
            return ITEM_QUOTED;
        if (c == '*' && s.Peek() >= 0) {
            c = s.text[s.pos++];
            if ((c | 0x20) == 'n')
                c = '\n';
            else if ((c | 0x20) == 'e')
                c = 0x1B;
        }
        out += (char)c;
    }
}

static int FindKeyword(const std::vector<TemplateItem> &items, const std::string &word)
{
    for (size_t i = 0; i < items.size(); i++)
        for (const std::string &name : items[i].names)
            if (strcasecmp(name.c_str(), word.c_str()) == 0)
                return (int)i;
    return -1;
}

// A decimal number with an optional sign, nothing else.
static bool ReadNumber(const std::string &text, int32 *value)
{
    int32 n = 0;
    size_t k = text[0] == '-' || text[0] == '+' ? 1 : 0;
    if (k == text.size())
        return false;
    for (; k < text.size(); k++) {
        if (text[k] < '0' || text[k] > '9' || n > 214748363)
            return false;
        n = n * 10 + (text[k] - '0');
    }
    *value = text[0] == '-' ? -n : n;
    return true;
}

// Gives item i its value text; 0, or the error.
static int32 Store(std::vector<TemplateItem> &items, size_t i, const std::string &text, Parsed &p)
{
    int32 number = 0;
    if (items[i].given)
        return ERROR_TOO_MANY_ARGS;
    if (items[i].number && !ReadNumber(text, &number))
        return ERROR_BAD_NUMBER;
    items[i].given = true;
    p.texts[i] = text;
    p.numbers[i] = number;
    return 0;
}

// A keyword was read: its switch set, or the item after it (and an optional "=") stored.
static int32 TakeKeyword(Source &s, std::vector<TemplateItem> &items, int i, Parsed &p)
{
    std::string value;
    int32 mark = s.pos;
    int kind = ReadItem(s, value);
    if (items[i].toggle) {
        if (kind == ITEM_EQUAL)
            return ERROR_TOO_MANY_ARGS;
        s.pos = mark;
        if (items[i].given)
            return ERROR_TOO_MANY_ARGS;
        items[i].given = true;
        return 0;
    }
    if (kind == ITEM_EQUAL)
        kind = ReadItem(s, value);
    if (kind == ITEM_ERROR)
        return ERROR_UNMATCHED_QUOTES;
    if (kind != ITEM_QUOTED && kind != ITEM_UNQUOTED)
        return ERROR_KEY_NEEDS_ARG;
    return Store(items, (size_t)i, value, p);
}

// Every item of the source into the template; 0, or the error.
static int32 ParseSource(Source &s, std::vector<TemplateItem> &items, Parsed &p)
{
    std::string word;
    for (;;) {
        int kind = ReadItem(s, word);
        if (kind == ITEM_NOTHING)
            break;
        if (kind == ITEM_ERROR)
            return ERROR_UNMATCHED_QUOTES;
        int i = kind == ITEM_UNQUOTED ? FindKeyword(items, word) : -1;
        int32 error;
        if (i >= 0) {
            error = TakeKeyword(s, items, i, p);
        } else {
            // A value in the next free place that needs no keyword.
            size_t k = 0;
            while (k < items.size() && (items[k].given || items[k].keyword || items[k].toggle))
                k++;
            error = kind == ITEM_EQUAL || k == items.size() ? ERROR_TOO_MANY_ARGS
                                                             : Store(items, k, word, p);
        }
        if (error != 0)
            return error;
    }
    for (const TemplateItem &t : items)
        if (t.required && !t.given)
            return ERROR_REQUIRED_ARG_MISSING;
    return 0;
}

RDArgs *ReadArgs(CONST_STRPTR tmpl, intptr_t *array, RDArgs *args)
{
    std::vector<TemplateItem> items;
    if (Fails("ReadArgs"))
        return SetDosError(ERROR_NO_FREE_STORE), nullptr;
    if (tmpl == nullptr || array == nullptr || !ParseTemplate(tmpl, items))
        return SetDosError(ERROR_BAD_TEMPLATE), nullptr;
    // The stand-in has no command line to read: the text must come in args.
    if (args == nullptr || args->RDA_Source.CS_Buffer == nullptr)
        return SetDosError(ERROR_REQUIRED_ARG_MISSING), nullptr;
    Parsed p;
    p.texts.resize(items.size());
    p.numbers.resize(items.size());
    Source s = {args->RDA_Source.CS_Buffer, args->RDA_Source.CS_Length, args->RDA_Source.CS_CurChr};
    int32 error = ParseSource(s, items, p);
    if (error != 0)
        return SetDosError(error), nullptr;
    args->RDA_Source.CS_CurChr = s.pos;
    Parsed &kept = parsed[args] = std::move(p);
    for (size_t i = 0; i < items.size(); i++) {
        if (!items[i].given)
            continue;
        if (items[i].toggle)
            array[i] = DOSTRUE;
        else if (items[i].number)
            array[i] = (intptr_t)&kept.numbers[i];
        else
            array[i] = (intptr_t)kept.texts[i].c_str();
    }
    return args;
}

void FreeArgs(RDArgs *args)
{
    if (args != nullptr)
        parsed.erase(args);
}

int ParsedArgs()
{
    return (int)parsed.size();
}

// Only RDArgs are made here; they come from the system's memory, so one not freed is seen.
APTR AllocDosObjectTags(uint32 type, ...)
{
    if (type != DOS_RDARGS || Fails("AllocDosObject"))
        return nullptr;
    return exec.AllocVecTags(sizeof(RDArgs), AVT_ClearWithValue, 0, TAG_DONE);
}

// What ReadArgs parsed into it stays until FreeArgs, as on the system.
void FreeDosObject(uint32 type, APTR object)
{
    if (type == DOS_RDARGS && object != nullptr)
        exec.FreeVec(object);
}

}  // namespace platform
