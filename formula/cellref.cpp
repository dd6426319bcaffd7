// Cell names written from numbers and read back: column letters (bijective base 26, A is 1,
// AA is 27) and the row in full decimal.
#include "formula/formula.h"

#include "formula/tokens.h"

uint32 ULongToStr(uint32 num, char *str, uint32 size)
{
    char rev[10];
    uint32 n = 0, len = 0;

    do {
        rev[n++] = (char)('0' + num % 10);
        num /= 10;
    } while (num != 0);
    while (n > 0 && len < size - 1)
        str[len++] = rev[--n];
    str[len] = '\0';
    return len;
}

// Letters of column col into str, none for column 0: a uint32 column needs 7 and the NUL.
static uint32 ColumnToStr(uint32 col, char *str)
{
    char rev[7];
    uint32 n = 0, len = 0;

    while (col != 0) {
        col--;
        rev[n++] = (char)('A' + col % 26);
        col /= 26;
    }
    while (n > 0)
        str[len++] = rev[--n];
    str[len] = '\0';
    return len;
}

// cellname holds CELLNAME_MAX bytes. Only a name of more than 15 characters is cut, and that
// takes a column and a row far beyond any sheet (seven letters and nine digits).
void SetRowColumnNumber(char *cellname, uint32 row, uint32 col)
{
    uint32 len = ColumnToStr(col, cellname);
    ULongToStr(row, cellname + len, CELLNAME_MAX - len);
}

void ReadCellName(const char *name, uint32 len, uint32 *row, uint32 *col)
{
    const char *p = name, *end = name + len;
    uint32 c = 0, letters = 0, digits = 0;
    int32 value = 0;

    *row = 0;
    *col = 0;
    for (; p < end && (*p == '"' || IsLetterChar((uint8)*p)); p++) {
        // Past four letters a name is beyond any sheet; stop counting before it overflows.
        if (*p != '"' && letters++ < 4)
            c = c * 26 + (uint32)((*p & 0xDF) - 'A' + 1);
    }
    if (letters > 3)
        c = 0;
    if (p >= end || *p < '0' || *p > '9')
        return;
    // Digits as StrToLong reads them; more than nine are beyond any sheet.
    for (; p < end && (*p == '"' || (*p >= '0' && *p <= '9')); p++)
        if (*p != '"')
            value = digits++ < 9 ? value * 10 + (*p - '0') : 0;
    if (value > 0)
        *row = (uint32)value;
    *col = c;
}

void GetRowColumnNumber(char *cellname, uint32 *row, uint32 *col)
{
    uint32 len = 0;

    // The quotes of an attribute value go, in place.
    for (const char *from = cellname;; from++) {
        if (*from != '"')
            cellname[len++] = *from;
        if (*from == '\0')
            break;
    }
    ReadCellName(cellname, len - 1, row, col);
}
