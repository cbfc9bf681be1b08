// String streams that freeze on str().
#include "ryxstrstream.h"

namespace ryxstrstream {

ostrstream::ostrstream() : std::ostream(nullptr), m_buf(std::ios_base::out), m_isFrozen(false) {
    rdbuf(&m_buf);
}

ostrstream::~ostrstream() = default;

char* ostrstream::str() {
    if (!m_isFrozen) {
        m_frozen = m_buf.str();
        m_isFrozen = true;
    }
    return &m_frozen[0];
}

size_t ostrstream::pcount() const {
    return m_isFrozen ? m_frozen.size() : m_buf.str().size();
}

strstream::strstream()
    : std::iostream(nullptr), m_buf(std::ios_base::in | std::ios_base::out), m_isFrozen(false) {
    rdbuf(&m_buf);
}

strstream::~strstream() = default;

char* strstream::str() {
    if (!m_isFrozen) {
        m_frozen = m_buf.str();
        m_isFrozen = true;
    }
    return &m_frozen[0];
}

size_t strstream::pcount() const {
    return m_isFrozen ? m_frozen.size() : m_buf.str().size();
}

}  // namespace ryxstrstream
