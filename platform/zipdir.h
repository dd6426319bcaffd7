// The table of contents of a ZIP archive as unzip takes it: from the end record and the
// central directory, each member checked against its local header, no two members sharing
// a byte and none reaching into the directory.
#pragma once

#include <string>
#include <vector>

#include "sdk/types.h"

namespace platform {

struct ZipMember {
    std::string name;              // the bytes of the central directory's name
    uint16      method   = 0;
    uint32      crc      = 0;      // of the unpacked data, from the central directory
    uint64      packed   = 0;      // compressed size
    uint64      size     = 0;      // uncompressed size
    uint64      headerAt = 0;      // the local header
    uint64      dataAt   = 0;      // the first byte of the packed data
};

struct ZipDirectory {
    std::vector<ZipMember> members;    // by their place in the file, as the unpack meets them
    uint64 directoryAt = 0, directorySize = 0;
    uint64 endAt = 0;                  // the first end record: the ZIP64 one when there is one
    uint64 readerEnd = 0;              // behind the end record, its comment left out
};

// Reads size bytes at offset into buffer; false when they are not all there.
typedef bool (*ZipReadAt)(void *source, uint64 offset, void *buffer, size_t size);

// Reads the table of contents of an archive of fileSize bytes, most members at most.
// NULL, or why the archive is refused; *member then names the member at fault, if one is.
const char *ReadZipDirectory(ZipReadAt read, void *source, uint64 fileSize, uint32 most,
                             ZipDirectory *dir, std::string *member);

}  // namespace platform
