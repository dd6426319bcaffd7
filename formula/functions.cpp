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

void TranslateFormula(char *formula, uint32 d)
{
    uint32 pos = 0, from = 0, start = 0, len = 0, prefix;

    const char *p = formula;

    if (d == TRANSLATE_NONE)
        return;
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
        if (row < 0)
            continue;    // a name not in the table stays as written, prefixes and all
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
