// RYXBuffer: owning bytes followed by one hidden NUL.
#include "ryxbuffer.h"

#include <openssl/crypto.h>

#include <cstring>
#include <utility>

namespace {
// What an empty buffer shows to readers: a NUL-terminated empty value.
const unsigned char s_empty[1] = {0};

unsigned char* copyBytes(unsigned int length, const unsigned char* bytes) {
    unsigned char* data = new unsigned char[static_cast<size_t>(length) + 1];
    if (length > 0) {
        memcpy(data, bytes, length);
    }
    data[length] = 0;
    return data;
}
}  // namespace

RYXBuffer::RYXBuffer() : m_data(nullptr), m_length(0) {}

RYXBuffer::RYXBuffer(unsigned int length, const unsigned char* bytes)
    : m_data(nullptr), m_length(0) {
    if (bytes != nullptr && length > 0) {
        m_data = copyBytes(length, bytes);
        m_length = length;
    }
}

RYXBuffer::RYXBuffer(const RYXBuffer& other) : m_data(nullptr), m_length(0) {
    if (other.m_data != nullptr) {
        m_data = copyBytes(other.m_length, other.m_data);
        m_length = other.m_length;
    }
}

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
        std::swap(m_data, copy.m_data);
        std::swap(m_length, copy.m_length);
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

unsigned char* RYXBuffer::getValue() {
    if (m_data == nullptr) {
        // A writable empty value gets a byte of its own: a shared one would be
        // written by every thread that asks.
        m_data = copyBytes(0, nullptr);
    }
    return m_data;
}

const unsigned char* RYXBuffer::getValue() const {
    return m_data == nullptr ? s_empty : m_data;
}

unsigned int RYXBuffer::getLength() const {
    return m_length;
}

RYXASNCBuffer RYXBuffer::get() const {
    return RYXASNCBuffer(getValue(), m_length);
}

void RYXBuffer::cleanse() {
    if (m_data != nullptr && m_length > 0) {
        OPENSSL_cleanse(m_data, m_length);
    }
}
