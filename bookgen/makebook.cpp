// makebook: writes one of the project's own workbooks.
//   makebook example OUT | mixed ROWS OUT | strings TEXTS OUT | shared DEFS USES FIRSTSI OUT
//   | sheets OUT | unknownsheets SHEETS OUT | wide SPACES OUT | comment BYTES OUT | twoways OUT
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bookgen/books.h"

static const char *kUsage =
    "usage: makebook example OUT | mixed ROWS OUT | strings TEXTS OUT\n"
    "     | shared DEFS USES FIRSTSI OUT | sheets OUT | unknownsheets SHEETS OUT\n"
    "     | wide SPACES OUT"
    " | comment BYTES OUT | twoways OUT\n";

// The example book, and one that shows other cells when its comment is taken for the end.
static bool TwoWays(const char *out, std::string *why)
{
    std::vector<bookgen::Member> other = bookgen::Workbook("<row r=\"1\"><c r=\"A1\"><v>666</v></c></row>");
    return bookgen::WriteTwoWayZip(out, bookgen::ExampleBook(), other, why);
}

int main(int argc, char **argv)
{
    std::vector<bookgen::Member> book;
    std::string what = argc > 1 ? argv[1] : "", why;
    const char *out = argv[argc - 1];
    long n = argc > 2 ? atol(argv[2]) : 0;

    if (what == "example" && argc == 3)
        book = bookgen::ExampleBook();
    else if (what == "mixed" && argc == 4)
        book = bookgen::MixedBook(n);
    else if (what == "strings" && argc == 4)
        book = bookgen::StringsBook(n);
    else if (what == "shared" && argc == 6)
        book = bookgen::SharedFormulaBook(n, atol(argv[3]), strtoul(argv[4], nullptr, 10));
    else if (what == "sheets" && argc == 3)
        book = bookgen::SheetsBook();
    else if (what == "unknownsheets" && argc == 4)
        book = bookgen::UnknownSheetsBook(n);
    else if (what == "wide" && argc == 4)
        book = bookgen::WideBook(n);
    else if (what == "comment" && argc == 4)
        book = bookgen::ExampleBook();
    else if (what == "twoways" && argc == 3)
        return TwoWays(out, &why) ? 0 : (fprintf(stderr, "makebook: %s\n", why.c_str()), 1);
    else {
        fputs(kUsage, stderr);
        return 2;
    }
    if (!bookgen::WriteZip(out, book, &why) ||
        (what == "comment" && !bookgen::AppendComment(out, std::string((size_t)n, 'c'), &why))) {
        fprintf(stderr, "makebook: %s: %s\n", out, why.c_str());
        return 1;
    }
    return 0;
}
