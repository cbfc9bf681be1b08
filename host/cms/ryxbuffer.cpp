#include "ryxbuffer.h"

#include <cstring>
#include <new>
#include <utility>

namespace {
// Allocates length bytes plus the hidden NUL that follows them.
unsigned char* allocate(unsigned int length) {
    unsigned char* p = new unsigned char[static_cast<size_t>(length) + 1];
    p[length] = 0;
    return p;
}

void wipe(unsigned char* p, size_t n) {
    volatile unsigned char* v = p;
    while (n-- > 0) {
        *v++ = 0;
    }
}
}  // namespace

RYXBuffer::RYXBuffer() : m_data(allocate(0)), m_length(0) {}

RYXBuffer::RYXBuffer(unsigned int length, const unsigned char* bytes)
    : m_data(nullptr), m_length(bytes == nullptr ? 0 : length) {
    m_data = allocate(m_length);
    if (m_length > 0) {
        memcpy(m_data, bytes, m_length);
    }
}

RYXBuffer::RYXBuffer(const RYXBuffer& other) : RYXBuffer(other.m_length, other.m_data) {}

RYXBuffer::RYXBuffer(RYXBuffer&& other) noexcept : m_data(other.m_data), m_length(other.m_length) {
    other.m_data = nullptr;
    other.m_length = 0;
}

RYXBuffer::~RYXBuffer() {
    delete[] m_data;
}

RYXBuffer& RYXBuffer::operator=(const RYXBuffer& other) {
    if (this != &other) {
        RYXBuffer copy(other);
        *this = std::move(copy);
    }
    return *this;
}

RYXBuffer& RYXBuffer::operator=(RYXBuffer&& other) noexcept {
    if (this != &other) {
        delete[] m_data;
        m_data = other.m_data;
        m_length = other.m_length;
        other.m_data = nullptr;
        other.m_length = 0;
    }
    return *this;
}

// A moved-from buffer reads as empty.
unsigned char* RYXBuffer::getValue() {
    static unsigned char empty[1] = {0};
    return m_data != nullptr ? m_data : empty;
}
const unsigned char* RYXBuffer::getValue() const {
    static const unsigned char empty[1] = {0};
    return m_data != nullptr ? m_data : empty;
}
unsigned int RYXBuffer::getLength() const {
    return m_length;
}
RYXASNCBuffer RYXBuffer::get() const {
    return RYXASNCBuffer(getValue(), m_length);
}

void RYXBuffer::cleanse() {
    if (m_data != nullptr) {
        wipe(m_data, m_length);
    }
}
