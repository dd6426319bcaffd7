// makebook: writes one of the project's own workbooks.
//   makebook example OUT | makebook sheets OUT | makebook mixed ROWS OUT
//   makebook strings TEXTS OUT
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bookgen/books.h"

int main(int argc, char **argv)
{
    std::vector<bookgen::Member> book;
    const char *out;

    if (argc == 3 && strcmp(argv[1], "example") == 0) {
        book = bookgen::ExampleBook();
        out = argv[2];
    } else if (argc == 3 && strcmp(argv[1], "sheets") == 0) {
        book = bookgen::SheetsBook();
        out = argv[2];
    } else if (argc == 4 && strcmp(argv[1], "mixed") == 0) {
        book = bookgen::MixedBook(atol(argv[2]));
        out = argv[3];
    } else if (argc == 4 && strcmp(argv[1], "strings") == 0) {
        book = bookgen::StringsBook(atol(argv[2]));
        out = argv[3];
    } else {
        fprintf(stderr, "usage: makebook example OUT | sheets OUT | mixed ROWS OUT | strings TEXTS OUT\n");
        return 2;
    }
    std::string why;
    if (!bookgen::WriteZip(out, book, &why)) {
        fprintf(stderr, "makebook: %s: %s\n", out, why.c_str());
        return 1;
    }
    return 0;
}
