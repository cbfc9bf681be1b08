// A small JSON writer: one document built in memory, indented two spaces per
// level, or on one line (JSON lines). Strings are escaped as JSON requires;
// bytes that are not UTF-8 become U+FFFD so that the document always parses.
#ifndef RYXDIR_JSON_H
#define RYXDIR_JSON_H

#include <string>
#include <vector>

namespace ryxdir {

// The version of the documents' layout, their first member "format": raised
// when a member changes meaning or goes away (added members keep it).
constexpr int kJsonFormat = 1;

// text as a JSON string literal, quotes included.
std::string jsonQuoted(const std::string& text);

class JsonWriter {
  public:
    explicit JsonWriter(bool oneLine = false) : m_oneLine(oneLine) {}

    void beginObject();
    // The outermost object of a document, opened with its "format" member.
    void beginDocument();
    void endObject();
    void beginArray();
    void endArray();
    // The name of the next member of the current object.
    void key(const std::string& name);
    void value(const std::string& text);
    void value(const char* text) { value(std::string(text)); }
    void value(long long number);
    void value(int number) { value(static_cast<long long>(number)); }
    void value(long number) { value(static_cast<long long>(number)); }
    void value(unsigned long number) { value(static_cast<long long>(number)); }
    void value(bool flag);
    void null();

    // key and value in one call.
    template <typename T>
    void member(const std::string& name, const T& v) {
        key(name);
        value(v);
    }

    // The document so far.
    const std::string& text() const { return m_out; }

  private:
    void beforeValue();
    void newLine(size_t depth);
    void open(char bracket);
    void close(char bracket);

    std::string m_out;
    bool m_oneLine;
    std::vector<bool> m_empty;  // per open container: nothing written in it yet
    bool m_afterKey = false;
};

}  // namespace ryxdir

#endif
