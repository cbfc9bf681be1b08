// Small LDAP servers on a loopback port, in a thread of the test, for what a
// real server does not do on demand: stay silent, stall, trickle or drip a
// transfer, drop the connection, refuse TLS; or answer at once. Binds succeed;
// each search gets one entry "cn=x" (description: the given value) as the mode
// says. A server stops with its owner, and by itself after a minute.
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
    static std::string tlv(unsigned char tag, const std::string& content) {
        std::string len;
        for (size_t n = content.size(); n != 0; n >>= 8)
            len.insert(len.begin(), static_cast<char>(n & 0xff));
        if (content.size() < 128)
            len = std::string(1, static_cast<char>(content.size()));
        else
            len.insert(len.begin(), static_cast<char>(0x80 | len.size()));
        return static_cast<char>(tag) + len + content;
    }

    // Where the content of the element at buf[at] starts and how long it is;
    // false while its header is incomplete.
    static bool element(const std::string& buf, size_t at, size_t* start, size_t* length) {
        const size_t octets = buf.size() > at + 1 && (buf[at + 1] & 0x80) ? buf[at + 1] & 0x7f : 0;
        *start = at + 2 + octets;
        *length = octets != 0 || buf.size() < at + 2 ? 0 : static_cast<unsigned char>(buf[at + 1]);
        for (size_t i = 0; i < octets && *start <= buf.size(); ++i)
            *length = (*length << 8) | static_cast<unsigned char>(buf[at + 2 + i]);
        return *start <= buf.size();
    }

    static void send(int fd, const std::string& bytes) {
        ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }

    // Answers every whole request at the front of buf and removes it; false
    // when the connection is to be closed.
    bool answer(int fd, std::string* buf) {
        if (m_mode == Mode::Silent) {  // whatever arrives, a TLS hello too, is not parsed
            buf->clear();
            return true;
        }
        if (m_mode == Mode::RefuseTls) {
            send(fd, std::string("\x15\x03\x01\x00\x02\x02\x28", 7));
            return false;
        }
        size_t body = 0, total = 0, idAt = 0, idLength = 0;
        while (element(*buf, 0, &body, &total) && buf->size() >= body + total &&
               element(*buf, body, &idAt, &idLength) && idAt + idLength < buf->size()) {
            const std::string id = buf->substr(idAt, idLength);
            const unsigned char op = static_cast<unsigned char>((*buf)[idAt + idLength]);
            buf->erase(0, body + total);
            if (op == 0x42 || (op == 0x63 && m_mode == Mode::Drop))  // unbind, search
                return false;
            const std::string done =
                tlv(0x0a, std::string(1, '\0')) + tlv(0x04, "") + tlv(0x04, "");
            if (op == 0x60)  // bind
                send(fd, tlv(0x30, tlv(0x02, id) + tlv(0x61, done)));
            if (op != 0x63 || m_mode == Mode::BindOnly)
                continue;
            const std::string attr =
                tlv(0x30, tlv(0x04, "description") + tlv(0x31, tlv(0x04, m_value)));
            const std::string entry =
                tlv(0x30, tlv(0x02, id) + tlv(0x64, tlv(0x04, "cn=x") + tlv(0x30, attr)));
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
            send(fd, tlv(0x30, tlv(0x02, id) + tlv(0x65, done)));
        }
        return true;
    }

    void run() {
        const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        std::vector<pollfd> fds{{m_listener.get(), POLLIN, 0}};
        std::vector<ryx::UniqueFd> owners(1);  // of the connections in fds[1...]
        std::vector<std::string> buffers(1);
        while (!m_stop && std::chrono::steady_clock::now() < end) {
            if (::poll(fds.data(), fds.size(), 50) <= 0)
                continue;
            for (size_t i = fds.size(); i-- > 1;) {
                if (fds[i].revents == 0)
                    continue;
                char chunk[4096];
                const ssize_t n = ::read(fds[i].fd, chunk, sizeof chunk);
                if (n > 0)
                    buffers[i].append(chunk, static_cast<size_t>(n));
                if (n <= 0 || !answer(fds[i].fd, &buffers[i])) {
                    fds.erase(fds.begin() + static_cast<long>(i));
                    owners.erase(owners.begin() + static_cast<long>(i));
                    buffers.erase(buffers.begin() + static_cast<long>(i));
                }
            }
            if (fds[0].revents & POLLIN) {
                owners.emplace_back(::accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
                fds.push_back({owners.back().get(), POLLIN, 0});
                buffers.emplace_back();
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
