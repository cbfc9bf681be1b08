// elfdtag: turns the DT_AUXILIARY entry of a shared object's dynamic section
// into a DT_RPATH entry, after checking that its string is the expected run
// path. Handles 32- and 64-bit files of either byte order on any build machine.
#ifndef ELFDTAG_H
#define ELFDTAG_H

#include <string>
#include <vector>

namespace elfdtag {

// What went wrong, as a one-line message naming no file.
struct Failure {
    std::string message;
};

// Rewrites the tag in the file image; throws Failure and leaves the image as
// it was when the file is not a shared object with exactly one DT_AUXILIARY
// entry holding expected and no DT_RPATH entry.
void rewrite(std::vector<unsigned char>& image, const std::string& expected);

}  // namespace elfdtag

#endif
