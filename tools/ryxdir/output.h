// Where a command's results go: standard output in the chosen format (text,
// PEM, one JSON document) or, for DER, one file per object in a folder.
#ifndef RYXDIR_OUTPUT_H
#define RYXDIR_OUTPUT_H

#include <openssl/x509.h>

#include <string>

#include "json.h"
#include "settings.h"

namespace ryxdir {

class Output {
  public:
    Output(Format format, std::string outDir);

    Format format() const { return m_format; }
    bool json() const { return m_format == Format::Json; }
    // The run's JSON document; the command's name and the final status are
    // written by start() and finish().
    JsonWriter& document() { return m_json; }

    void start(const std::string& command);
    // A line on standard output (text form).
    void line(const std::string& text);
    // Bytes on standard output as they are (PEM).
    void raw(const std::string& bytes);
    // DER bytes written atomically to DIR/<kind>-<index>.der; the path is
    // printed as a line.
    void derFile(const char* kind, size_t index, const std::string& der);

    // Ends the run: closes the JSON document with the status and writes it,
    // then flushes standard output. Fails with status 5 when output is lost.
    void finish(int status);
    // Ends a failed run: with JSON, a document with the status and the message.
    void finishFailed(const std::string& command, int status, const std::string& message);

  private:
    void write(const std::string& bytes);

    Format m_format;
    std::string m_outDir;
    JsonWriter m_json;
};

// A one-line message on standard error, prefixed with the program name.
void note(const std::string& text);

// Lists of objects in the chosen format: PEM blocks, "certificate N: ..." or
// "crl N: ..." lines, DER files, or a JSON array under "certificates"/"crls".
void writeCertificates(Output& out, const STACK_OF(X509) * certs);
void writeCrls(Output& out, const STACK_OF(X509_CRL) * crls);

}  // namespace ryxdir

#endif
