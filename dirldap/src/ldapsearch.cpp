// LDAPSearchResults: the entries of a client's last search, or of LDIF-like
// text, as an owning ordered list with a cursor.
#include "ldapsearchresults.h"

#include <cctype>
#include <cstring>
#include <memory>

#include "ldapclient.h"
#include "ryxexception.h"
#include "ryxstrstream.h"
#include "ryxtrace.h"

namespace {

const char* const kSourceFile = "ldapsearch.cpp";

// Room of the LDIF line buffer: at most one less character of a line is stored.
const std::streamsize kLineRoom = 4000;

#define SEARCH_TRACE(name) \
    RYXTraceFunction searchTrace_(RYX_TRACE_COMP_DIRLDAP, kSourceFile, __LINE__, name)

typedef std::vector<LDAPEntry*> EntryList;

// Owns an entry list under construction: a constructor that fails part way
// leaves nothing behind.
struct EntryListDeleter {
    void operator()(EntryList* list) const {
        for (LDAPEntry* entry : *list) {
            delete entry;
        }
        delete list;
    }
};
typedef std::unique_ptr<EntryList, EntryListDeleter> EntryListPtr;

// Appends an entry; the list owns it only once it is in.
void append(EntryList& list, std::unique_ptr<LDAPEntry>& entry) {
    list.push_back(entry.get());
    entry.release();
}

// Memory handed out by the client's LDAP library, released with its own
// function on every way out.
class LdapText {
  public:
    LdapText(LDAPClient& client, char* text) : m_client(client), m_text(text) {}
    ~LdapText() { reset(nullptr); }
    LdapText(const LdapText&) = delete;
    LdapText& operator=(const LdapText&) = delete;

    char* get() const { return m_text; }
    void reset(char* text) {
        if (m_text != nullptr) {
            m_client.memFree(m_text);
        }
        m_text = text;
    }

  private:
    LDAPClient& m_client;
    char* m_text;
};

class LdapValues {
  public:
    LdapValues(LDAPClient& client, struct berval** values) : m_client(client), m_values(values) {}
    ~LdapValues() {
        if (m_values != nullptr) {
            m_client.valueFreeLen(m_values);
        }
    }
    LdapValues(const LdapValues&) = delete;
    LdapValues& operator=(const LdapValues&) = delete;

    struct berval** get() const {
        return m_values;
    }

  private:
    LDAPClient& m_client;
    struct berval** m_values;
};

class LdapBer {
  public:
    explicit LdapBer(LDAPClient& client) : m_client(client), m_ber(nullptr) {}
    ~LdapBer() { m_client.berFree(m_ber); }
    LdapBer(const LdapBer&) = delete;
    LdapBer& operator=(const LdapBer&) = delete;

    BerElement** address() { return &m_ber; }
    BerElement* get() const { return m_ber; }

  private:
    LDAPClient& m_client;
    BerElement* m_ber;
};

// Adds every value of one attribute: printable values as text (the LDAP
// library ends each value with a NUL, which is kept), others as their bytes.
void addValues(LDAPEntry& entry, const char* name, struct berval** values) {
    for (size_t i = 0; values[i] != nullptr; ++i) {
        const struct berval* value = values[i];
        const int length = static_cast<int>(value->bv_len);
        const bool text =
            isPrintable(reinterpret_cast<const unsigned char*>(value->bv_val), length);
        const unsigned int stored = static_cast<unsigned int>(value->bv_len) + (text ? 1u : 0u);
        entry.addAttribute(name, value->bv_val, stored);
    }
}

// Builds the entry at the client's current position.
void readEntry(LDAPClient& client, LDAPEntry& entry) {
    {
        LdapText dn(client, client.getDN());
        if (dn.get() != nullptr) {
            entry.addAttribute("dn", dn.get(), 0);
        }
    }
    LdapBer ber(client);
    LdapText name(client, client.firstAttribute(ber.address()));
    while (name.get() != nullptr) {
        {
            LdapValues values(client, client.getValuesLen(name.get()));
            if (values.get() != nullptr) {
                addValues(entry, name.get(), values.get());
            }
        }
        name.reset(client.nextAttribute(ber.get()));
    }
}

[[noreturn]] void throwError(int line, const char* text) {
    ryxstrstream::ostrstream os;
    os << "LDAPSearchResults: " << (text == nullptr ? "" : text);
    throw RYXException(kSourceFile, line, 0, RYXString(os.str()));
}

bool isWhiteSpace(char c) {
    // Bytes above 0x7F are negative as signed characters and never white space.
    const signed char s = static_cast<signed char>(c);
    return s >= 0 && std::isspace(s) != 0;
}

}  // namespace

LDAPSearchResults::LDAPSearchResults(LDAPClient& client) : m_entries(nullptr), m_cursor(nullptr) {
    SEARCH_TRACE("LDAPSearchResults::LDAPSearchResults(LDAPClient & client)");
    EntryListPtr list(new EntryList);

    const int count = client.countEntries();
    if (count == 0) {
        throwError(__LINE__, "zero entries found.");
    }
    if (count < 0) {
        throwError(__LINE__, client.errorMessage(0));
    }

    // The count only tells an empty result; the walk follows the chain to its end.
    client.firstEntry();
    while (client.m_entry != nullptr) {
        std::unique_ptr<LDAPEntry> entry(new LDAPEntry);
        readEntry(client, *entry);
        append(*list, entry);
        client.nextEntry();
    }

    m_entries = list.release();
    m_cursor = m_entries->data();
}

LDAPSearchResults::LDAPSearchResults(std::istream& is) : m_entries(nullptr), m_cursor(nullptr) {
    SEARCH_TRACE("LDAPSearchResults::LDAPSearchResults(istream & is)");
    std::unique_ptr<char[]> line(new char[kLineRoom]);
    EntryListPtr list(new EntryList);

    // Reads one line; a line that does not fit the buffer and a stream that
    // fails before its end stop the reading like a malformed line.
    auto readLine = [&is, &line]() {
        line[0] = '\0';
        try {
            is.getline(line.get(), kLineRoom, '\n');
        } catch (const std::ios_base::failure&) {
            // A stream that throws on its state: judged by the state below.
        }
        if (is.bad() || (is.fail() && !is.eof())) {
            throw RYXException(kSourceFile, __LINE__, 0, RYXString("ldif file is malformed."));
        }
    };

    while (!is.eof()) {
        std::unique_ptr<LDAPEntry> entry(new LDAPEntry);
        readLine();
        while (!is.eof() && line[0] != '\0') {
            char* colon = std::strchr(line.get(), ':');
            if (colon == nullptr) {
                throw RYXException(kSourceFile, __LINE__, 0, RYXString("ldif file is malformed."));
            }
            *colon = '\0';
            char* value = colon + 1;
            while (*value != '\0' && isWhiteSpace(*value)) {
                ++value;
            }
            entry->addAttribute(line.get(), value, 0);
            readLine();
        }
        append(*list, entry);
    }

    m_entries = list.release();
    m_cursor = m_entries->data();
}

LDAPSearchResults::~LDAPSearchResults() {
    erase();
    delete m_entries;
}

LDAPEntry* LDAPSearchResults::next() {
    if (m_cursor == m_entries->data() + m_entries->size()) {
        return nullptr;
    }
    return *m_cursor++;
}

void LDAPSearchResults::reset() {
    m_cursor = m_entries->data();
}

void LDAPSearchResults::erase() {
    SEARCH_TRACE("erase");
    LDAPEntry** const end = m_entries->data() + m_entries->size();
    for (m_cursor = m_entries->data(); m_cursor != end; ++m_cursor) {
        LDAPEntry* entry = *m_cursor;
        if (entry != nullptr) {
            entry->clear();
            delete entry;
        }
        *m_cursor = nullptr;
    }
    m_entries->clear();
    m_cursor = m_entries->data();
}
