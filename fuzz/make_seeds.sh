#!/bin/sh
# Makes seeds for the fuzz targets from real workbooks, under OUT_DIR/<target>/:
#   scanner  the head of each workbook's first worksheet and of its shared-string table
#   formula  every distinct formula text (the text of the f elements of every worksheet),
#            and the head of the cells of each worksheet that holds shared formulas
#   import   each small workbook's worksheet and string table, once alone and once with
#            its own relationships and workbook part where those name the usual members
# Seeds carry the header their target reads. A seed is named after its checksum, a formula
# text after its place in sorted order. They stay in the build tree: the workbooks are not
# ours to keep. The project's own seeds are in fuzz/seeds.
#
#   fuzz/make_seeds.sh [CORPUS_DIR [OUT_DIR]]
#       (defaults: ../shared/corpus beside the sources, build-fuzz/seeds)
#
# Needs a POSIX shell and unzip.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
corpus=${1:-$here/../../shared/corpus}
out=${2:-$here/../build-fuzz/seeds}
head_bytes=4096          # of each worksheet and string table for the scanner
cells_bytes=4096         # of the cells of a worksheet with shared formulas
book_bytes=16384         # most bytes of the members of a workbook for the import

if [ ! -d "$corpus" ]; then
    echo "make_seeds.sh: no workbooks in $corpus" >&2
    exit 1
fi
command -v unzip >/dev/null || { echo "make_seeds.sh: unzip is missing" >&2; exit 1; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT INT TERM

# Headers, as printf formats: see each target's source for the fields.
# scanner: ISO-8859-1, no options; tags and values of XML_BUFSIZE; texts of 65536 bytes and
# 32767 characters; names of 16 bytes; a handle's buffer of 256 bytes.
scanner_header='\001\000\003\377\003\377\377\377\177\377\017\377'
# formula: ISO-8859-1; a formula text (or cells, with bit 0); output of 65536 bytes; moved
# by 3 rows and 1 column; si 0. The corpus's formula texts go 3 rows and 1 column back, with
# si 1 and an unused bit set.
formula_header='\001\000\377\377\000\000\003\000\001\000'
cells_header='\001\001\377\377\000\000\003\000\001\000'
texts_header='\001\020\377\377\377\377\375\377\377\001'
# import: no options, ISO-8859-1.
import_header='\000\000\001'
separator='\n----\n'

# seed TARGET PREFIX HEADER FILE...: HEADER and the files' bytes as one seed.
seed() {
    target=$1 prefix=$2 header=$3
    shift 3
    printf "$header" > "$tmp/seed"
    cat "$@" >> "$tmp/seed"
    set -- $(cksum < "$tmp/seed")
    cp "$tmp/seed" "$out/$target/$prefix-$1-$2"
}

# member BOOK NAME: the member's bytes; nothing when the book is no ZIP, lacks the member
# or wants a password.
member() {
    unzip -p -qq -P x "$1" "$2" 2>/dev/null </dev/null || :
}

# head_of BYTES FILE: the first BYTES of a file.
head_of() {
    dd if="$2" bs="$1" count=1 2>/dev/null
}

# The book's worksheets, in archive order.
worksheets() {
    unzip -Z1 "$1" 2>/dev/null </dev/null | grep '^xl/worksheets/[^/]*\.xml$' || :
}

# XML character data as the text it stands for (the references formulas use).
decode() {
    sed -e 's/&lt;/</g' -e 's/&gt;/>/g' -e 's/&quot;/"/g' -e "s/&apos;/'/g" -e 's/&amp;/\&/g'
}

for target in scanner formula import; do
    rm -rf "${out:?}/$target"
    mkdir -p "$out/$target"
done

: > "$tmp/formulas"
for book in "$corpus"/*.xlsx; do
    sheets=$(worksheets "$book")
    [ -n "$sheets" ] || continue
    first=xl/worksheets/sheet1.xml
    printf '%s\n' "$sheets" | grep -qx "$first" || first=$(printf '%s\n' "$sheets" | sed -n 1p)

    member "$book" "$first" > "$tmp/sheet"
    member "$book" xl/sharedStrings.xml > "$tmp/strings"
    head_of "$head_bytes" "$tmp/sheet" > "$tmp/head"
    [ -s "$tmp/head" ] && seed scanner sheet "$scanner_header" "$tmp/head"
    head_of "$head_bytes" "$tmp/strings" > "$tmp/head"
    [ -s "$tmp/head" ] && seed scanner strings "$scanner_header" "$tmp/head"

    # Formula texts, one a line: line ends inside a formula become \001 until written.
    for sheet in $sheets; do
        member "$book" "$sheet" > "$tmp/whole"
        tr '\n' '\001' < "$tmp/whole" | sed 's/<\([A-Za-z0-9_]*:\)\{0,1\}f[ >]/\
&/g' | sed -n 's/^<\([A-Za-z0-9_]*:\)\{0,1\}f\( [^>]*[^/>]\)\{0,1\}>\([^<][^<]*\)<.*/\3/p' \
            | decode >> "$tmp/formulas"
        head_of 65536 "$tmp/whole" | tr '\n' ' ' > "$tmp/cells"
        if grep -q 't="shared"' "$tmp/cells"; then
            sed 's/^.*<\([A-Za-z0-9_]*:\)\{0,1\}sheetData/<sheetData/' "$tmp/cells" > "$tmp/whole"
            head_of "$cells_bytes" "$tmp/whole" > "$tmp/head"
            seed formula cells "$cells_header" "$tmp/head"
        fi
    done

    member "$book" xl/_rels/workbook.xml.rels > "$tmp/rels"
    member "$book" xl/workbook.xml > "$tmp/workbook"
    member "$book" _rels/.rels > "$tmp/package"
    [ -s "$tmp/sheet" ] || continue
    bytes=$(cat "$tmp/sheet" "$tmp/strings" "$tmp/rels" "$tmp/workbook" "$tmp/package" | wc -c)
    [ "$bytes" -le "$book_bytes" ] || continue
    printf "$separator" > "$tmp/sep"
    seed import book "$import_header" "$tmp/sheet" "$tmp/sep" "$tmp/strings"
    if [ "$first" = xl/worksheets/sheet1.xml ] && [ -s "$tmp/rels" ]; then
        seed import parts "$import_header" "$tmp/sheet" "$tmp/sep" "$tmp/strings" "$tmp/sep" \
            "$tmp/rels" "$tmp/sep" "$tmp/workbook" "$tmp/sep" "$tmp/package"
    fi
done

# One awk for all formula texts: a process per seed takes minutes on a busy machine. The
# header holds no NUL, which awk cannot write everywhere.
LC_ALL=C sort -u "$tmp/formulas" | LC_ALL=C awk -v dir="$out/formula" -v header="$texts_header" '
    $0 != "" {
        n++
        gsub(/\001/, "\n")
        file = sprintf("%s/text-%04d", dir, n)
        printf "%s%s", header, $0 > file
        close(file)
    }'

for target in scanner formula import; do
    printf '%s: %s seeds, %s bytes\n' "$target" "$(ls "$out/$target" | wc -l)" \
        "$(cat "$out/$target"/* | wc -c)"
done
