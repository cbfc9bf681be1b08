// Small LDAP servers on loopback, in a thread of the test, for what a real one
// does not do on demand (see Mode). Binds succeed; each search gets one entry
// "cn=x" (description: the given value) as the mode says. A server stops with
// its owner, and by itself after a minute.
#ifndef FAKESERVER_H
#define FAKESERVER_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "ryxopenldapptr.h"
#include "ryxuniquefd.h"

// A listening socket on a free loopback port, and that port.
inline ryx::UniqueFd loopbackListener(int backlog, sockaddr_in* addr) {
    ryx::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    *addr = {};
    addr->sin_family = AF_INET;
    addr->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof *addr;
    ::bind(fd.get(), reinterpret_cast<sockaddr*>(addr), sizeof *addr);
    ::listen(fd.get(), backlog);
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(addr), &len);
    return fd;
}

class FakeServer {
  public:
    enum class Mode {
        Silent,     // reads, never answers
        BindOnly,   // answers binds, never a search
        Stall,      // sends the first half of the entry, then nothing
        Trickle,    // sends the entry in eight chunks, one every 500 ms
        Drop,       // closes the connection when a search arrives
        Drip,       // announces the entry, then sends one byte every 500 ms
        Answer,     // answers binds and searches at once
        RefuseTls,  // answers anything with a TLS handshake-failure alert, then closes
    };

    explicit FakeServer(Mode mode, std::string value = "v") : m_mode(mode), m_value(value) {
        sockaddr_in addr;
        m_listener = loopbackListener(16, &addr);
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~FakeServer() {
        m_stop = true;
        m_thread.join();
    }

    int port() const { return m_port; }
    std::string hostPort() const { return "127.0.0.1:" + std::to_string(m_port); }
    int connections() const { return m_accepted; }

  private:
    // The BER of ber_printf's format and arguments.
    template <typename... Args>
    static std::string ber(const char* format, Args... args) {
        const ryx::UniquePtr<BerElement> b(ber_alloc_t(LBER_USE_DER));  // freed without its buffer
        berval flat{};
        ber_printf(b.get(), format, args...);
        ber_flatten2(b.get(), &flat, 0);
        const ryx::UniquePtr<char, ryx::LdapMemfree> buffer(flat.bv_val);  // so the buffer is ours
        return std::string(flat.bv_val, flat.bv_len);
    }

    // The message id and operation of the request at the front of buf, which is
    // removed; false while no request there is whole.
    static bool request(std::string* buf, ber_int_t* id, ber_tag_t* op) {
        berval bv{buf->size(), buf->data()};
        const ryx::UniquePtr<BerElement> in(ber_alloc_t(0));
        ber_init2(in.get(), &bv, 0);     // reads buf in place
        ber_len_t length = 0, rest = 0;  // ber_skip_tag fails while the request is incomplete
        if (ber_skip_tag(in.get(), &length) == LBER_DEFAULT ||
            ber_get_option(in.get(), LBER_OPT_REMAINING_BYTES, &rest) != 0 ||
            ber_scanf(in.get(), "it", id, op) == LBER_ERROR)
            return false;
        buf->erase(0, buf->size() - rest + length);
        return true;
    }

    static void send(int fd, const std::string& bytes) {
        ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }

    // Reads what came on fd and answers every whole request in buf, the bytes not
    // yet answered; false when the connection is to be closed.
    bool answer(int fd, std::string* buf) {
        char got[4096];
        const ssize_t n = ::read(fd, got, sizeof got);
        if (n > 0 && m_mode == Mode::RefuseTls)  // a handshake-failure alert
            send(fd, std::string("\x15\x03\x01\x00\x02\x02\x28", 7));
        if (n <= 0 || m_mode == Mode::RefuseTls)
            return false;
        if (m_mode != Mode::Silent)  // whatever arrives, a TLS hello too, is not parsed
            buf->append(got, static_cast<size_t>(n));
        ber_int_t id = 0;
        for (ber_tag_t op = 0; request(buf, &id, &op);) {
            if (op == LDAP_REQ_UNBIND || (op == LDAP_REQ_SEARCH && m_mode == Mode::Drop))
                return false;
            if (op == LDAP_REQ_BIND)
                send(fd, ber("{it{ess}}", id, LDAP_RES_BIND, 0, "", ""));
            if (op != LDAP_REQ_SEARCH || m_mode == Mode::BindOnly)
                continue;
            const std::string entry =
                ber("{it{s{{s[o]}}}}", id, LDAP_RES_SEARCH_ENTRY, "cn=x", "description",
                    m_value.data(), static_cast<ber_len_t>(m_value.size()));
            if (m_mode == Mode::Stall) {
                send(fd, entry.substr(0, entry.size() / 2));
                continue;
            }
            const size_t chunk = m_mode == Mode::Drip ? 1 : entry.size() / 8 + 1;
            size_t at = 0;
            if (m_mode == Mode::Drip)  // the header, so that the whole entry is awaited
                send(fd, entry.substr(0, at = 8));
            for (; m_mode != Mode::Answer && at < entry.size() && !m_stop; at += chunk) {
                send(fd, entry.substr(at, chunk));
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
            }
            if (m_mode == Mode::Answer)
                send(fd, entry);
            send(fd, ber("{it{ess}}", id, LDAP_RES_SEARCH_RESULT, 0, "", ""));
        }
        return true;
    }

    void run() {
        const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        std::vector<pollfd> fds{{m_listener.get(), POLLIN, 0}};
        std::vector<std::pair<ryx::UniqueFd, std::string>> connections(1);  // those in fds[1...]
        while (!m_stop && std::chrono::steady_clock::now() < end) {
            if (::poll(fds.data(), fds.size(), 50) <= 0)
                continue;
            for (size_t i = fds.size(); i-- > 1;) {
                if (fds[i].revents != 0 && !answer(fds[i].fd, &connections[i].second)) {
                    fds.erase(fds.begin() + static_cast<long>(i));
                    connections.erase(connections.begin() + static_cast<long>(i));
                }
            }
            if (fds[0].revents & POLLIN) {
                connections.emplace_back(
                    ::accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC), "");
                fds.push_back({connections.back().first.get(), POLLIN, 0});
                ++m_accepted;
            }
        }
    }

    Mode m_mode;
    std::string m_value;
    ryx::UniqueFd m_listener;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_accepted{0};
    std::thread m_thread;
};

// A loopback listener whose queue of connections is full: a connect to it is
// never completed. (One filler fills the queue; the others wait for answers.)
class FullListener {
  public:
    FullListener() {
        sockaddr_in addr;
        m_fd = loopbackListener(0, &addr);
        m_port = ntohs(addr.sin_port);
        for (ryx::UniqueFd& c : m_fillers) {
            c.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
            ::connect(c.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        }
    }

    std::string hostPort() const { return "127.0.0.1:" + std::to_string(m_port); }

  private:
    ryx::UniqueFd m_fd;
    int m_port = 0;
    ryx::UniqueFd m_fillers[3];
};

#endif
