// Byte buffers of the host toolkit.
#ifndef RYXBUFFER_H
#define RYXBUFFER_H

#include <cstddef>

#include "ryxexport.h"

// A plain, non-owning view of bytes: data pointer and length.
class RYXASNCBuffer {
  public:
    RYXASNCBuffer() : m_data(nullptr), m_length(0) {}
    RYXASNCBuffer(const unsigned char* data, unsigned int length)
        : m_data(data), m_length(length) {}
    const unsigned char* getData() const { return m_data; }
    unsigned int getLength() const { return m_length; }

  private:
    const unsigned char* m_data;
    unsigned int m_length;
};

// Owning byte buffer. The stored bytes are followed by one hidden NUL byte so that
// a text value can be read as a C string without reading past the allocation.
class RYX_EXPORT RYXBuffer {
  public:
    RYXBuffer();
    // Copies length bytes from bytes; null bytes give length zero bytes.
    RYXBuffer(unsigned int length, const unsigned char* bytes);
    RYXBuffer(const RYXBuffer& other);
    RYXBuffer(RYXBuffer&& other) noexcept;
    ~RYXBuffer();
    RYXBuffer& operator=(const RYXBuffer& other);
    RYXBuffer& operator=(RYXBuffer&& other) noexcept;

    unsigned char* getValue();
    const unsigned char* getValue() const;
    unsigned int getLength() const;
    RYXASNCBuffer get() const;
    // Overwrites the bytes with zeros (for secrets) before they are released.
    void cleanse();

  private:
    unsigned char* m_data;
    unsigned int m_length;
};

#endif
