// String streams in which messages and trace texts are composed. str() freezes
// the stream and yields a NUL-terminated text that the stream owns.
#ifndef RYXSTRSTREAM_H
#define RYXSTRSTREAM_H

#include <cstddef>
#include <istream>
#include <ostream>
#include <sstream>
#include <string>

#include "ryxexport.h"

namespace ryxstrstream {

class RYX_EXPORT ostrstream : public std::ostream {
  public:
    ostrstream();
    ~ostrstream() override;
    ostrstream(const ostrstream&) = delete;
    ostrstream& operator=(const ostrstream&) = delete;

    // Freezes the stream and returns its text; later output is not added.
    char* str();
    // Number of characters written so far.
    size_t pcount() const;

  private:
    std::stringbuf m_buf;
    std::string m_frozen;
    bool m_isFrozen;
};

class RYX_EXPORT strstream : public std::iostream {
  public:
    strstream();
    ~strstream() override;
    strstream(const strstream&) = delete;
    strstream& operator=(const strstream&) = delete;

    char* str();
    size_t pcount() const;

  private:
    std::stringbuf m_buf;
    std::string m_frozen;
    bool m_isFrozen;
};

}  // namespace ryxstrstream

#endif
