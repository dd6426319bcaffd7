// Function names into the host's three-letter function codes, by the two parallel tables
// isname (codes) and xsname (the workbook's names).
#include "formula/formula.h"

#include "formula/tokens.h"
#include "sdk/proto.h"

#define FUNCTIONS 119

// Codes back to back, three characters a row; "_" fills a short code and is never written.
static const char isname[FUNCTIONS * 3 + 1] =
    "ABSNUMSUMSMTPRTFAKEXPLN_L10GCD"     //   0
    "NOTANDOR_IF_SELNOPRADDEGSINCOS"     //  10
    "TANSNHCSHTNHASNACSATNRANUPCLWC"     //  20
    "LEFRIGMIDPATLENPOSVALTXTCHRCAI"     //  30
    "CCICAPTRMBPNAPNPNMFNTFPTWIDHEI"     //  40
    "MONDAYYERLEPDOYWEKWKDTDYDC_NOW"     //  50
    "GMTMLNTHRTMNTSCDPSDSZDFIDNMDPT"     //  60
    "DSMDMIDMADAVEXTEXTPAGREFCURCOL"     //  70
    "ROWAVGMEDPERVARMINMAXOBJSQRCSC"     //  80
    "CSCESDPI_MODXORINTROUSGNITXINM"     //  90
    "IDTIECTRICLNREPUP2ASCB2DB2OB2H"     // 100
    "O2DO2BO2HD2BD2OD2HH2DH2OH2B";       // 110

// The workbook's name of each code; "???" has none and never matches.
static constexpr char xsname[FUNCTIONS][30] = {
    "ABS", "COUNTA", "SUM", "???", "PRODUCT", "FACT", "EXP", "LN", "LOG10", "GCD",
    "NOT", "AND", "OR", "IF", "CHOOSE", "???", "RADIANS", "DEGREES", "SIN", "COS",
    "TAN", "SINH", "COSH", "TANH", "ASIN", "ACOS", "ATAN", "RAND", "UPPER", "LOWER",
    "LEFT", "RIGHT", "MID", "EXACT", "LEN", "FIND", "VALUE", "TEXT", "CHAR", "???",
    "???", "???", "???", "???", "???", "???", "???", "???", "???", "???",
    "MONTH", "DAY", "YEAR", "ORG.OPENOFFICE.ISLEAPYEAR", "DAYSINYEAR", "WEEKNUM", "WEEKDAY",
    "TODAY", "???", "NOW",
    "???", "???", "HOUR", "MINUTE", "SECOND", "???", "???", "???", "???", "???",
    "???", "???", "???", "???", "???", "???", "???", "???", "???", "???",
    "???", "AVERAGE", "MEDIAN", "PERCENTILE", "VAR", "MIN", "MAX", "???", "SQRT",
    "CONCATENATE",
    "COM.MICROSOFT.CONCAT", "ORG.OPENOFFICE.EASTERSUNDAY", "Pi", "MODE", "XOR", "INT", "ROUND",
    "SIGN", "ISTEXT", "ISNUMBER",
    "ISDATE", "ISBLANK", "TRIM", "CLEAN", "REPT", "PROPER", "CODE", "BIN2DEC", "BIN2OCT",
    "BIN2HEX",
    "OCT2DEC", "OCT2BIN", "OCT2HEX", "DEC2BIN", "DEC2OCT", "DEC2HEX", "HEX2DEC", "HEX2OCT",
    "HEX2BIN",
};

// Traces the piece formula[from..to), the position where it ended and where it began.
static void TracePiece(char *formula, uint32 from, uint32 to, uint32 ended)
{
    char keep = formula[to];

    formula[to] = '\0';
    IExec->DebugPrintF("SeperateFunction: <%s> %ld %ld\n", formula + from, (long)ended, (long)from);
    formula[to] = keep;
}

// Finds the next function name at or behind *pos: a whole name directly in front of "(",
// outside string literals, quoted sheet names and brackets. TRUE with the name at
// formula[*start], *len characters long, and *pos behind its "("; FALSE at the end.
static BOOL SeperateFunction(char *formula, uint32 *pos, uint32 *start, uint32 *len)
{
    uint32 i = *pos;
    Token t;

    for (; (t = ReadToken(formula, i)).kind != TOKEN_END; i = t.end) {
        if (t.kind == TOKEN_NAME && formula[t.end] == '(') {
            *start = t.start;
            *len = t.end - t.start;
            TracePiece(formula, *pos, t.end + 1, t.end);
            *pos = t.end + 1;
            return TRUE;
        }
    }
    TracePiece(formula, *pos, i, i);
    *pos = i;
    return FALSE;
}

// The length of the prefixes a newer function carries in the file ("_xlfn.", "_xlws.").
static uint32 PrefixLength(const char *name, uint32 len)
{
    uint32 p = 0;

    while (len - p > 6 && (IUtility->Strnicmp(name + p, "_xlfn.", 6) == 0 ||
                           IUtility->Strnicmp(name + p, "_xlws.", 6) == 0))
        p += 6;
    return p;
}

// The functions whose names the host reads as codes of others, each with its arguments and
// its expansion: "#1", "#2" stand for the arguments as written.
static const struct {
    const char *name;
    uint32      args;
    const char *expansion;
} ownfunctions[] = {
    { "MOD", 2, "((#1)-(#2)*INT((#1)/(#2)))" },
    { "ASC", 1, "(#1)" },
    { "CSC", 1, "(1/SIN(#1))" },
};

// The row of ownfunctions named name[0..len), letter case ignored; -1 for none.
static int32 OwnFunction(const char *name, uint32 len)
{
    for (uint32 k = 0; k < sizeof(ownfunctions) / sizeof(ownfunctions[0]); k++)
        if (len == 3 && IUtility->Strnicmp(name, ownfunctions[k].name, 3) == 0)
            return (int32)k;
    return -1;
}

// Rows by the first letter of their name, made as the module is built; the "???" rows are
// in none. A letter of more than 16 names stops the build.
struct Buckets {
    uint8 row[26][16];
    uint8 size[26];
};

static constexpr Buckets MakeBuckets()
{
    Buckets b{};
    for (int32 row = 0; row < FUNCTIONS; row++) {
        uint32 letter = (uint32)((xsname[row][0] | 0x20) - 'a');
        if (letter < 26)
            b.row[letter][b.size[letter]++] = (uint8)row;
    }
    return b;
}

static constexpr Buckets buckets = MakeBuckets();

// The table row whose name is exactly name[0..len), letter case ignored; -1 for none. Names
// are compared whole, so the longest name that fits is the only one.
static int32 FindFunction(const char *name, uint32 len, const char *piece)
{
    uint32 letter = (uint32)((name[0] | 0x20) - 'a');

    if (letter >= 26)
        return -1;
    for (uint32 k = 0; k < buckets.size[letter]; k++) {
        int32 row = buckets.row[letter][k];
        const char *xs = xsname[row];
        IExec->DebugPrintF("TranslateFormula: suche <%s|%s>\n", piece, xs);
        if (IUtility->Strlen(xs) == len && IUtility->Strnicmp(name, xs, (int32)len) == 0)
            return row;
    }
    return -1;
}

// The workbook's own MOD, ASC and CSC spell codes of other functions: unprefixed they are
// put in lower case, which no code is, so that ExpandFunctions tells them from the codes.
static void MarkOwnFunction(char *name, uint32 len)
{
    if (OwnFunction(name, len) < 0)
        return;
    for (uint32 k = 0; k < len; k++)
        name[k] = (char)(name[k] | 0x20);
}

void TranslateFormula(char *formula)
{
    uint32 pos = 0, from = 0, start = 0, len = 0, prefix;

    const char *p = formula;

    while (*p != '\0' && *p != '(')
        p++;
    if (*p == '\0')
        return;     // no call, nothing to translate
    IExec->DebugPrintF("TranslateFormula: <%s> <%s> <%s>\n", "", formula, formula);
    while (SeperateFunction(formula, &pos, &start, &len)) {
        char keep = formula[pos];
        formula[pos] = '\0';
        IExec->DebugPrintF("TranslateFormula: suche <%s>\n", formula + from);
        prefix = PrefixLength(formula + start, len);
        int32 row = FindFunction(formula + start + prefix, len - prefix, formula + from);
        formula[pos] = keep;
        from = pos;
        if (row < 0) {
            if (prefix == 0)
                MarkOwnFunction(formula + start, len);
            continue;    // a name not in the table stays as written, prefixes and all
        }
        char fname[4];
        uint32 flen = 0;
        for (uint32 k = 0; k < 3; k++)
            if (isname[row * 3 + k] != '_')
                fname[flen++] = isname[row * 3 + k];
        fname[flen] = '\0';
        IExec->DebugPrintF("TranslateFormula: ersetze <%s> durch <%s> in <%s>\n", xsname[row],
                           fname, formula);
        // A code is never longer than its name, so the text only moves to the left.
        uint32 gap = len - flen;
        for (uint32 k = 0; k < flen; k++)
            formula[start + k] = fname[k];
        if (gap > 0) {
            uint32 k = start + len;
            do {
                formula[k - gap] = formula[k];
            } while (formula[k++] != '\0');
            pos -= gap;
            from = pos;
        }
    }
    IExec->DebugPrintF("TranslateFormula: <%s> <%s> <%s>\n", formula, "", formula);
}

// The arguments of a call: text[from..to) of each, and where its ")" stands.
struct CallArgs {
    uint32 from[2], to[2];
    uint32 count, close;
};

// Reads the arguments of the call whose "(" is at text[open]. FALSE when the call is never
// closed or has more than two; an argument list of blanks alone counts none.
static BOOL ReadCallArgs(const char *text, uint32 open, CallArgs *a)
{
    uint32 depth = 0, i = open + 1;
    BOOL blank = TRUE;
    Token t;

    a->count = 1;
    a->from[0] = i;
    for (; (t = ReadToken(text, i)).kind != TOKEN_END; i = t.end) {
        if (t.kind != TOKEN_BLANK && !IsChar(text, t, ')'))
            blank = FALSE;
        if (IsChar(text, t, '(') || IsChar(text, t, '{')) {
            depth++;
        } else if ((IsChar(text, t, ')') || IsChar(text, t, '}')) && depth > 0) {
            depth--;
        } else if (IsChar(text, t, ')')) {
            a->to[a->count - 1] = i;
            a->close = i;
            if (blank)
                a->count = 0;
            return TRUE;
        } else if (IsChar(text, t, ';') && depth == 0) {
            if (a->count == 2)
                return FALSE;
            a->to[0] = i;
            a->from[a->count++] = i + 1;
        }
    }
    return FALSE;
}

// Writes MOD(n;d) at text[s..] as ((n)-(d)*INT((n)/(d))), CSC(x) as (1/SIN(x)), ASC(t) as
// (t); the call's name is text[s..open). The caller made sure the result fits.
static void ExpandCall(char *text, uint32 size, uint32 s, uint32 open, int32 which,
                       CallArgs *a)
{
    uint32 name = open + 1 - s;

    if (which == 1) {             // ASC
        ReplaceRange(text, size, s, open, "", 0);
        return;
    }
    if (which == 2) {             // CSC
        // The name first: the text never grows past its final length on the way.
        ReplaceRange(text, size, s, open + 1, "(1/SIN(", 7);
        uint32 close = a->close + 7 - name;
        ReplaceRange(text, size, close + 1, close + 1, ")", 1);
        return;
    }
    ReplaceRange(text, size, s, open + 1, "((", 2);
    uint32 nf = a->from[0] + 2 - name, nt = a->to[0] + 2 - name;
    uint32 df = a->from[1] + 2 - name, dt = a->to[1] + 2 - name;
    ReplaceRange(text, size, nt, nt + 1, ")-(", 3);
    df += 2;
    dt += 2;
    uint32 at = dt + 1;           // behind the call's ")"
    const struct { const char *s; uint32 from, to; } parts[] = {
        { "*INT((", 0, 0 }, { nullptr, nf, nt }, { ")/(", 0, 0 }, { nullptr, df, dt },
        { ")))", 0, 0 },
    };
    for (const auto &p : parts) {
        if (p.s != nullptr) {
            uint32 n = IUtility->Strlen(p.s);
            ReplaceRange(text, size, at, at, p.s, n);
            at += n;
        } else {
            ReplaceRange(text, size, at, at, text + p.from, p.to - p.from);
            at += p.to - p.from;
        }
    }
}

// How many bytes the expansion of a call adds to the text: name[0..namelen) with its "(".
static int32 ExpansionGrowth(int32 which, uint32 namelen, const CallArgs *a)
{
    int32 name = (int32)namelen + 1;

    if (which == 1)
        return 1 - name;
    if (which == 2)
        return 7 - name + 1;
    return 2 - name + 2 + 12 + (int32)(a->to[0] - a->from[0]) + (int32)(a->to[1] - a->from[1]);
}

// The workbook's own MOD, ASC or CSC at text[s..s+len): prefixed, or marked by
// TranslateFormula in lower case; its row of ownfunctions, -1 for another name.
static int32 OwnCall(const char *text, uint32 s, uint32 len)
{
    uint32 p = PrefixLength(text + s, len);
    int32 which = OwnFunction(text + s + p, len - p);

    if (which < 0 || p > 0)
        return which;
    for (uint32 k = 0; k < 3; k++)
        if (text[s + k] >= 'a' && text[s + k] <= 'z')
            return which;
    return -1;
}

BOOL ExpandFunctions(char *text, uint32 size, const char *cell)
{
    uint32 i = 0;
    BOOL whole = TRUE;
    Token t;
    CallArgs a;

    for (; (t = ReadToken(text, i)).kind != TOKEN_END; i = t.end) {
        int32 which;
        if (t.kind != TOKEN_NAME || text[t.end] != '(' ||
            (which = OwnCall(text, t.start, t.end - t.start)) < 0)
            continue;
        uint32 len = IUtility->Strlen(text);
        if (ReadCallArgs(text, t.end, &a) && a.count == ownfunctions[which].args &&
            (int64)len + ExpansionGrowth(which, t.end - t.start, &a) < (int64)size) {
            ExpandCall(text, size, t.start, t.end, which, &a);
            t.end = t.start;      // the arguments are read again: calls in them follow
            continue;
        }
        IExec->DebugPrintF("Zelle %s: %s bleibt als _xlfn.%s\n", cell, text + t.start,
                           ownfunctions[which].name);
        if (PrefixLength(text + t.start, t.end - t.start) == 0) {
            whole = ReplaceRange(text, size, t.start, t.end, "_xlfn.", 6) &&
                    ReplaceRange(text, size, t.start + 6, t.start + 6, ownfunctions[which].name,
                                 3) && whole;
            len = IUtility->Strlen(text);
            t.end = t.start + 9 < len ? t.start + 9 : len;
        }
    }
    return whole;
}
