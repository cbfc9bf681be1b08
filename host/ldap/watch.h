// Bounded waits on OpenLDAP connections: a server that stops sending is noticed
// after a set time without data, however long a transfer that keeps arriving
// takes.
#ifndef RYXLDAP_WATCH_H
#define RYXLDAP_WATCH_H

#include <ldap.h>

#include <chrono>
#include <string>

namespace ryxldap {

// Watches every connection of one OpenLDAP handle. Attached, it puts a layer
// under TLS on each new connection that notes when data last came in and waits
// at most the bound for a socket to become readable or writable before each
// read or write (a handshake or a stalled message then fails instead of
// blocking). One thread at a time, like the handle; must outlive the handle.
class Watch {
  public:
    // idleSeconds 0: no bound.
    explicit Watch(long idleSeconds);
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

    // Registers the connection callback with ld. False on failure.
    bool attach(LDAP* ld);
    // Starts the idle clock of a new operation.
    void restart();
    // Waits for the whole answer to msgid: LDAP_SUCCESS with *result, or an
    // OpenLDAP error code with *result null: LDAP_TIMEOUT after limit (null: none;
    // the request is then abandoned), LDAP_SERVER_DOWN when the server sent
    // nothing for the bound (then *why says so) or went away.
    int await(LDAP* ld, int msgid, const timeval* limit, LDAPMessage** result, std::string* why);
    // Why the last failure of an operation was the watch's doing, else empty.
    std::string silence() const;

    // For the layer.
    bool waitReady(int fd, short events);
    void noteData() { m_last = Clock::now(); }

  private:
    using Clock = std::chrono::steady_clock;
    long idleMillis() const;

    long m_boundMs;
    Clock::time_point m_last;
    bool m_silent = false;
    ldap_conncb m_callback;
};

}  // namespace ryxldap

#endif
