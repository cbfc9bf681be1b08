// Exceptions of the host toolkit. All are thrown by value and carry the source
// file, line, numeric code and message of the place that raised them.
#ifndef RYXEXCEPTION_H
#define RYXEXCEPTION_H

#include <exception>

#include "ryxexport.h"
#include "ryxstring.h"

// Codes raised by the host toolkit itself.
enum RYXHostErrorCode {
    RYX_ERR_INVALID_ARGUMENT = 510001,  // bad argument to a host function
    RYX_ERR_HEX_STRING = 510002,        // hex text of odd length or with a non-hex character
    RYX_ERR_LIBRARY = 510003,           // a library or entry function cannot be found
    RYX_ERR_ASN_DECODE = 520001,        // DER that does not decode
    RYX_ERR_ASN_NAME = 520002,          // distinguished name text that does not parse
    RYX_ERR_ASN_STATE = 520003,         // object used before it holds a value
};

class RYX_EXPORT RYXException : public std::exception {
  public:
    RYXException(const char* file, int line, int error, const RYXString& message);
    RYXException(const RYXException& other);
    RYXException& operator=(const RYXException& other);
    ~RYXException() override;

    int getError() const;
    const RYXString& getMessage() const;
    const char* getFile() const;
    int getLine() const;
    // The message text.
    const char* what() const noexcept override;

  private:
    RYXString m_file;
    int m_line;
    int m_error;
    RYXString m_message;
};

class RYX_EXPORT RYXDIRException : public RYXException {
  public:
    RYXDIRException(const char* file, int line, int error, const RYXString& message);
    RYXDIRException(const RYXDIRException& other);
    RYXDIRException& operator=(const RYXDIRException& other);
    ~RYXDIRException() override;
};

class RYX_EXPORT RYXASNException : public RYXException {
  public:
    RYXASNException(const char* file, int line, int error, const RYXString& message);
    RYXASNException(const RYXASNException& other);
    RYXASNException& operator=(const RYXASNException& other);
    ~RYXASNException() override;
};

#endif
