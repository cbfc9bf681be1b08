// Bounded waits on OpenLDAP connections: a server that stops sending is noticed
// after a set time without data, however long a transfer that keeps arriving
// takes; and an operation as a whole ends at its deadline, so that a server
// that drips its answer is cut too.
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
    using Clock = std::chrono::steady_clock;

    // idleSeconds 0: no bound.
    explicit Watch(long idleSeconds);
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

    // Registers the connection callback with ld. False on failure.
    bool attach(LDAP* ld);
    // Starts the idle clock of a new step of an operation.
    void restart();
    // The end of the current operation (from connect through the last byte of
    // its answer), set at its start: seconds 0 is none.
    void setDeadline(Clock::time_point end, long seconds);
    static Clock::time_point deadlineIn(long seconds);
    // Milliseconds left until the deadline (-1: none).
    long deadlineLeftMs() const;
    // Waits for the whole answer to msgid: LDAP_SUCCESS with *result, or an
    // OpenLDAP error code with *result null: LDAP_TIMEOUT after limit (null: none;
    // the request is then abandoned), LDAP_SERVER_DOWN when the server sent
    // nothing for the bound or the operation reached its deadline (then *why
    // says so), or went away.
    int await(LDAP* ld, int msgid, const timeval* limit, LDAPMessage** result, std::string* why);
    // Why the last failure of an operation was the watch's doing, else empty.
    std::string silence() const;

    // For the layer.
    bool waitReady(int fd, short events);
    void noteData() { m_last = Clock::now(); }

  private:
    enum class Stop { None, Idle, Deadline };
    long idleMillis() const;
    // Milliseconds to wait at most now: the idle bound, cut by the deadline (-1: none).
    long waitMillis(long idleLeft) const;
    bool stopped();

    long m_boundMs;
    Clock::time_point m_last;
    Clock::time_point m_end = Clock::time_point::max();
    long m_deadlineSeconds = 0;
    Stop m_stop = Stop::None;
    ldap_conncb m_callback;
};

}  // namespace ryxldap

#endif
