// Hex conversion and dumps.
#ifndef RYXUTILITY_H
#define RYXUTILITY_H

#include <cstddef>
#include <iosfwd>

#include "ryxbuffer.h"
#include "ryxexport.h"
#include "ryxstring.h"

class RYX_EXPORT RYXUtility {
  public:
    // Converts hex digits (either case, no separators) into bytes. An odd number of
    // digits or any other character throws RYXException (RYX_ERR_HEX_STRING).
    // The first form reads up to the terminating NUL; null throws.
    static RYXBuffer hexStringToBinary(const char* hex);
    static RYXBuffer hexStringToBinary(const char* hex, size_t length);
    // Lower-case hex digits of the bytes.
    static RYXString binaryToHexString(const unsigned char* bytes, size_t length);
    // Writes a classic dump: the title line, then 16 bytes a line with offset,
    // hex bytes and their printable characters.
    static void hexdump(std::ostream& os, const char* title, const RYXBuffer& data);
};

#endif
