// Where a command's results go: standard output in the chosen format (text,
// PEM, one JSON document) or, for DER, one file per object in a folder; in a
// batch run, one result line per input line (text or JSON lines).
#ifndef RYXDIR_OUTPUT_H
#define RYXDIR_OUTPUT_H

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "filenames.h"
#include "json.h"
#include "ryxasn.h"
#include "settings.h"

namespace ryxdir {

// What one retrieval found: certificates, or revocation lists, as the toolkit
// decoded them.
struct Found {
    std::unique_ptr<RYXASNCertificateContainer> certificates;
    std::unique_ptr<RYXASNCRLContainer> crls;
    // The retrieval told ARLs from CRLs: the first authorityLists are ARLs.
    bool authority = false;
    size_t authorityLists = 0;
    size_t count() const;
};

class Output {
  public:
    // batch: one result line per input line (text or JSON), no document;
    // force: files in outDir are replaced.
    Output(Format format, std::string outDir, bool batch = false, bool force = false);

    Format format() const { return m_format; }
    bool json() const { return m_format == Format::Json; }
    // The run's JSON document; the command's name and the final status are
    // written by start() and finish().
    JsonWriter& document() { return m_json; }

    void start(const std::string& command);
    // A line on standard output (text form).
    void line(const std::string& text);
    // DER bytes as a PEM block under label on standard output.
    void pem(const char* label, const RYXASNCBuffer& der);
    const std::string& command() const { return m_command; }

    // The name of a file in DIR for an object of kind (see FileNamer).
    std::string fileName(const std::string& kind, const std::string& label,
                         const std::string& number);
    struct DerFile {
        std::string name;
        RYXASNCBuffer der;
    };
    // DER bytes written atomically to DIR/<name>, each path printed as a line.
    // Without force, fails with status 5 before writing any when one exists.
    void derFiles(const std::vector<DerFile>& files);

    // A batch run's line for one input: its status and what was found (status
    // 0) or why not. Text: the status, the input and the result, separated by
    // tabs; JSON: one object on one line. Flushed at once.
    void resultLine(const std::string& input, int status, const std::string& why,
                    const Found* found);

    // A batch run's line for one certificate validated: text, the status, the
    // input and the verdict between tabs; JSON, one object on one line with the
    // members that members writes (or, when it is empty, the verdict as error).
    void verdictLine(const std::string& input, int status, const std::string& verdict,
                     const std::function<void(JsonWriter&)>& members);

    // Ends the run: closes the JSON document with the status and writes it,
    // then flushes standard output. Fails with status 5 when output is lost.
    void finish(int status);
    // Ends a failed run: with JSON, a document (in a batch run a line) with the
    // status and the message.
    void finishFailed(const std::string& command, int status, const std::string& message);

  private:
    void write(const std::string& bytes);
    // Flushes standard output; fails with status 5 when output is lost.
    void flush();

    Format m_format;
    std::string m_outDir;
    bool m_batch;
    bool m_force;
    std::string m_command;
    FileNamer m_fileNames;
    JsonWriter m_json;
};

// text with control bytes (tab and line ends among them) and DEL as \xNN,
// and with doubleBackslash the backslash doubled, so that text read from a
// user or a server stays on its line (and in its field) and cannot drive the
// terminal that shows it.
std::string escaped(const std::string& text, bool doubleBackslash);

// A one-line message on standard error, prefixed with the program name; its
// control bytes are escaped.
void note(const std::string& text);
// Why standard output could not be written, from errno.
std::string outputLost();

// What was found in the chosen format: PEM blocks, "certificate N: ..." or
// "crl N: ..." lines, DER files, or a JSON array under "certificates"/"crls".
// PEM and DER are written from the bytes the toolkit decoded.
void writeFound(Output& out, const Found& found);

}  // namespace ryxdir

#endif
