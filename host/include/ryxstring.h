// Owning and read-only strings of the host toolkit.
#ifndef RYXSTRING_H
#define RYXSTRING_H

#include <cstddef>
#include <iosfwd>
#include <string>

#include "ryxexport.h"

// Owning, mutable text. Embedded NUL bytes are allowed; c_str() is always
// NUL-terminated.
class RYX_EXPORT RYXString {
  public:
    static const size_t npos;

    RYXString();
    RYXString(const char* text);  // null gives the empty string
    RYXString(const char* text, size_t length);
    RYXString(const RYXString& other);
    RYXString(RYXString&& other) noexcept;
    ~RYXString();

    RYXString& operator=(const RYXString& other);
    RYXString& operator=(RYXString&& other) noexcept;
    RYXString& operator=(const char* text);

    RYXString& assign(const char* text);
    RYXString& assign(const char* text, size_t length);

    RYXString& operator+=(const RYXString& other);
    RYXString& operator+=(const char* text);
    RYXString& operator+=(char c);
    RYXString& append(const RYXString& other);
    RYXString& append(const char* text);
    RYXString& append(const char* text, size_t length);
    // Inserts at pos; pos beyond the end throws RYXException.
    RYXString& insert(size_t pos, const RYXString& other);
    RYXString& insert(size_t pos, const char* text);
    // Removes up to count characters from pos; pos beyond the end throws RYXException.
    RYXString& erase(size_t pos = 0, size_t count = npos);
    void push_back(char c);

    size_t find(const char* text, size_t pos = 0) const;
    size_t find(char c, size_t pos = 0) const;
    // ASCII case-insensitive search; npos when not found.
    size_t find_ignorecase(const char* text, size_t pos = 0) const;
    size_t find_ignorecase(const RYXString& text, size_t pos = 0) const;
    RYXString substr(size_t pos, size_t count = npos) const;

    // Byte-wise comparison: <0, 0, >0 like strcmp (length decides on a common prefix).
    int compare(const RYXString& other) const;
    int compare(const char* text) const;

    const char* c_str() const;
    const char* data() const;
    size_t length() const;
    bool empty() const;
    char operator[](size_t pos) const;

  private:
    std::string m_value;
};

RYX_EXPORT bool operator==(const RYXString& a, const RYXString& b);
RYX_EXPORT bool operator!=(const RYXString& a, const RYXString& b);
RYX_EXPORT bool operator<(const RYXString& a, const RYXString& b);
RYX_EXPORT RYXString operator+(const RYXString& a, const RYXString& b);
RYX_EXPORT std::ostream& operator<<(std::ostream& os, const RYXString& s);

// Read-only text. Copyable and assignable as a whole, never changed in place.
class RYX_EXPORT RYXConstString {
  public:
    RYXConstString();
    RYXConstString(const char* text);  // null gives the empty string
    RYXConstString(const char* text, size_t length);
    RYXConstString(const RYXString& text);
    RYXConstString(const RYXConstString& other);
    RYXConstString(RYXConstString&& other) noexcept;
    ~RYXConstString();
    RYXConstString& operator=(const RYXConstString& other);
    RYXConstString& operator=(RYXConstString&& other) noexcept;

    size_t length() const;
    int compare(const char* text) const;
    int compare(const RYXConstString& other) const;
    // NUL-terminated contents, valid while this object lives unchanged.
    const char* asCString() const;
    // Writes the text for people to read: non-printable bytes as \xNN.
    void display(std::ostream& os) const;

  private:
    RYXString m_value;
};

// Writes the text verbatim.
RYX_EXPORT std::ostream& operator<<(std::ostream& os, const RYXConstString& s);

#endif
