#!/bin/sh
# install.sh CMAKE BUILD BOOK: installs BUILD into a fresh prefix and imports BOOK with the
# installed sheaf from another directory; the module it loads must be the installed one.
set -eu
cmake=$1 build=$2 book=$3
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
test -x "$prefix/bin/sheaf"
test -r "$prefix/lib/sheaf/sheaf.io"
cd "$prefix"
# The loader's own record of what it opens names the module file taken.
LD_DEBUG=files "$prefix/bin/sheaf" --format csv "$book" >out 2>loads
grep -q "file=$prefix/bin/../lib/sheaf/sheaf.io" loads || { echo "not the installed module:"; grep sheaf.io loads; exit 1; }
head -n 1 out | grep -qx 'Item,Price,Count,Total,With tax,Status'
echo "installed sheaf imports from $prefix"
