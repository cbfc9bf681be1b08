// Names of the files that -o writes: each says what it holds ("ca-Root_CA-1.der",
// "crl-Root_CA-7.der"), in characters safe in any file system and shell, and
// unique within a run.
#ifndef RYXDIR_FILENAMES_H
#define RYXDIR_FILENAMES_H

#include <openssl/x509.h>

#include <set>
#include <string>

namespace ryxdir {

// The part of a file name that stands for an entry's name: its most specific
// common name with every run of other characters than letters, digits, '.',
// '-' and '_' made one '_' (64 bytes at most), or, without a usable common
// name, its hash as "openssl x509 -hash" prints it.
std::string nameLabel(const X509_NAME* name);

class FileNamer {
  public:
    // "<kind>-<label>-<number>.der" when number is given and the name is still
    // free, else "<kind>-<label>-<n>.der" with the first free counter n.
    std::string next(const std::string& kind, const std::string& label, const std::string& number);

  private:
    std::set<std::string> m_used;
};

}  // namespace ryxdir

#endif
