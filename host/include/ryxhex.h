// Hex digits, read the same way by every unit of the host toolkit and the lab.
#ifndef RYXHEX_H
#define RYXHEX_H

namespace ryx {

// The value of one hex digit of either case, or -1 for any other character.
inline int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace ryx

#endif
