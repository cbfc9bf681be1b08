// The toolkit's exception classes.
#include "ryxexception.h"

RYXException::RYXException(const char* file, int line, int error, const RYXString& message)
    : m_file(file), m_line(line), m_error(error), m_message(message) {}
RYXException::RYXException(const RYXException& other) = default;
RYXException& RYXException::operator=(const RYXException& other) = default;
RYXException::~RYXException() = default;

int RYXException::getError() const {
    return m_error;
}
const RYXString& RYXException::getMessage() const {
    return m_message;
}
const char* RYXException::getFile() const {
    return m_file.c_str();
}
int RYXException::getLine() const {
    return m_line;
}
const char* RYXException::what() const noexcept {
    return m_message.c_str();
}

RYXDIRException::RYXDIRException(const char* file, int line, int error, const RYXString& message)
    : RYXException(file, line, error, message) {}
RYXDIRException::RYXDIRException(const RYXDIRException& other) = default;
RYXDIRException& RYXDIRException::operator=(const RYXDIRException& other) = default;
RYXDIRException::~RYXDIRException() = default;

RYXASNException::RYXASNException(const char* file, int line, int error, const RYXString& message)
    : RYXException(file, line, error, message) {}
RYXASNException::RYXASNException(const RYXASNException& other) = default;
RYXASNException& RYXASNException::operator=(const RYXASNException& other) = default;
RYXASNException::~RYXASNException() = default;
