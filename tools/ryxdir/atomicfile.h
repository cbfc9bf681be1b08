// Files written whole or not at all: the bytes go to a new temporary file in
// the target's folder, are synced, and the temporary is renamed over the target.
#ifndef RYXDIR_ATOMICFILE_H
#define RYXDIR_ATOMICFILE_H

#include <string>

namespace ryxdir {

// What becomes of a target that exists already.
enum class Existing { Replace, Refuse };

// Writes size bytes to path. Refuses a target that is a symbolic link or not a
// regular file, and with Existing::Refuse any target that exists, also one that
// appears while the bytes are written. On any failure no temporary is left
// behind, the target is unchanged, and an output failure (status 5) names the
// file and the reason.
void writeFileAtomically(const std::string& path, const void* data, size_t size,
                         Existing existing = Existing::Replace);

}  // namespace ryxdir

#endif
