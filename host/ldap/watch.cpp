#include "watch.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>

#include "diag.h"

namespace ryxldap {

namespace {

Watch* watchOf(Sockbuf_IO_Desc* d) {
    return static_cast<Watch*>(d->sbiod_pvt);
}

int socketOf(Sockbuf_IO_Desc* d) {
    ber_socket_t fd = -1;
    ber_sockbuf_ctrl(d->sbiod_sb, LBER_SB_OPT_GET_FD, &fd);
    return fd;
}

int layerSetup(Sockbuf_IO_Desc* d, void* arg) {
    d->sbiod_pvt = arg;
    return 0;
}

int layerCtrl(Sockbuf_IO_Desc* d, int opt, void* arg) {
    return LBER_SBIOD_CTRL_NEXT(d, opt, arg);
}

ber_slen_t layerRead(Sockbuf_IO_Desc* d, void* buf, ber_len_t len) {
    Watch* w = watchOf(d);
    if (!w->waitReady(socketOf(d), POLLIN)) {
        errno = ETIMEDOUT;
        return -1;
    }
    const ber_slen_t n = LBER_SBIOD_READ_NEXT(d, buf, len);
    if (n > 0) {
        w->noteData();
        noteReceived(static_cast<size_t>(n));
    }
    return n;
}

ber_slen_t layerWrite(Sockbuf_IO_Desc* d, void* buf, ber_len_t len) {
    if (!watchOf(d)->waitReady(socketOf(d), POLLOUT)) {
        errno = ETIMEDOUT;
        return -1;
    }
    return LBER_SBIOD_WRITE_NEXT(d, buf, len);
}

Sockbuf_IO s_layer = {layerSetup, nullptr, layerCtrl, layerRead, layerWrite, nullptr};

// Called by OpenLDAP for every connection it opens for the handle, before TLS
// starts on it: the layer goes in at the transport level, under TLS.
int connectionAdded(LDAP*, Sockbuf* sb, LDAPURLDesc*, sockaddr*, ldap_conncb* cb) {
    return ber_sockbuf_add_io(sb, &s_layer, LBER_SBIOD_LEVEL_TRANSPORT, cb->lc_arg) == 0 ? 0 : -1;
}

void connectionDeleted(LDAP*, Sockbuf*, ldap_conncb*) {}

}  // namespace

Watch::Watch(long idleSeconds) : m_boundMs(idleSeconds * 1000), m_last(Clock::now()) {
    m_callback.lc_add = connectionAdded;
    m_callback.lc_del = connectionDeleted;
    m_callback.lc_arg = this;
}

bool Watch::attach(LDAP* ld) {
    return ldap_set_option(ld, LDAP_OPT_CONNECT_CB, &m_callback) == LDAP_OPT_SUCCESS;
}

void Watch::restart() {
    m_last = Clock::now();
    m_stop = Stop::None;
}

void Watch::setDeadline(Clock::time_point end, long seconds) {
    m_end = end;
    m_deadlineSeconds = seconds;
}

Watch::Clock::time_point Watch::deadlineIn(long seconds) {
    return seconds > 0 ? Clock::now() + std::chrono::seconds(seconds) : Clock::time_point::max();
}

long Watch::deadlineLeftMs() const {
    if (m_end == Clock::time_point::max())
        return -1;
    return std::max(
        0L,
        static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(m_end - Clock::now()).count()));
}

long Watch::idleMillis() const {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_last).count());
}

long Watch::waitMillis(long idleLeft) const {
    const long deadline = deadlineLeftMs();
    if (m_boundMs <= 0)
        return deadline;
    return deadline < 0 ? idleLeft : std::min(idleLeft, deadline);
}

// Notes which bound ended a wait that timed out; true when one did.
bool Watch::stopped() {
    if (deadlineLeftMs() == 0)
        m_stop = Stop::Deadline;
    else if (m_boundMs > 0 && idleMillis() >= m_boundMs)
        m_stop = Stop::Idle;
    return m_stop != Stop::None;
}

std::string Watch::silence() const {
    switch (m_stop) {
        case Stop::Idle:
            return "no data from the server for " + std::to_string(m_boundMs / 1000) + " s";
        case Stop::Deadline:
            return "no complete answer within the deadline of " +
                   std::to_string(m_deadlineSeconds) + " s";
        default:
            return std::string();
    }
}

bool Watch::waitReady(int fd, short events) {
    if (deadlineLeftMs() == 0) {  // also when data keeps dripping in
        m_stop = Stop::Deadline;
        return false;
    }
    if (fd < 0 || waitMillis(m_boundMs) < 0)
        return true;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(waitMillis(m_boundMs));
    for (;;) {
        const long left = static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, static_cast<int>(std::max(left, 0L)));
        if (n > 0)
            return true;
        if (n == 0 || errno != EINTR) {
            if (n == 0)
                m_stop = deadlineLeftMs() == 0 ? Stop::Deadline : Stop::Idle;
            return n != 0;
        }
    }
}

int Watch::await(LDAP* ld, int msgid, const timeval* limit, LDAPMessage** result,
                 std::string* why) {
    *result = nullptr;
    const Clock::time_point start = Clock::now();
    const long limitMs =
        limit == nullptr ? -1 : static_cast<long>(limit->tv_sec * 1000 + limit->tv_usec / 1000);
    for (;;) {
        long waitMs = waitMillis(std::max(m_boundMs - idleMillis(), 0L));
        if (limitMs >= 0) {
            const long elapsed = static_cast<long>(
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start)
                    .count());
            const long left = std::max(limitMs - elapsed, 0L);
            waitMs = waitMs < 0 ? left : std::min(waitMs, left);
        }
        timeval tv{waitMs / 1000, (waitMs % 1000) * 1000};
        LDAPMessage* msg = nullptr;
        const int rc = ldap_result(ld, msgid, LDAP_MSG_ALL, waitMs < 0 ? nullptr : &tv, &msg);
        if (rc > 0) {
            *result = msg;
            return LDAP_SUCCESS;
        }
        if (msg != nullptr)
            ldap_msgfree(msg);
        if (rc < 0) {
            int err = LDAP_SERVER_DOWN;
            ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &err);
            *why = silence();
            return err != LDAP_SUCCESS ? err : LDAP_SERVER_DOWN;
        }
        if (limitMs >= 0 &&
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count() >=
                limitMs) {
            ldap_abandon_ext(ld, msgid, nullptr, nullptr);
            return LDAP_TIMEOUT;
        }
        if (stopped()) {
            *why = silence();
            return LDAP_SERVER_DOWN;
        }
    }
}

}  // namespace ryxldap
