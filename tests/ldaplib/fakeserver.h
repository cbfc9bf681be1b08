// A small LDAP server on a loopback port, in a thread of the test, for the
// behaviours a real server does not show on demand: silence, a transfer that
// stalls or trickles, a connection dropped in the middle of a search. It
// speaks just enough LDAPv3: simple binds always succeed, every search gets one
// entry "cn=x" with one attribute (or the scripted misbehaviour), StartTLS is
// refused. It stops with its owner, and by itself after a minute.
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

class FakeServer {
  public:
    enum class Mode {
        Silent,    // accepts and reads, never answers
        BindOnly,  // answers binds, never a search
        Stall,     // sends the first half of the entry, then nothing
        Trickle,   // sends the entry in chunks, one every `pause`, then the result
        Drop,      // closes the connection when a search arrives
        Answer,    // answers binds and searches at once
    };

    explicit FakeServer(Mode mode, std::string value = std::string(64, 'v'),
                        std::chrono::milliseconds pause = std::chrono::milliseconds(400))
        : m_mode(mode), m_value(std::move(value)), m_pause(pause) {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(m_listener, 16);
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~FakeServer() {
        m_stop = true;
        m_thread.join();
        for (int fd : m_clients)
            ::close(fd);
        ::close(m_listener);
    }
    FakeServer(const FakeServer&) = delete;
    FakeServer& operator=(const FakeServer&) = delete;

    int port() const { return m_port; }
    std::string hostPort() const { return "127.0.0.1:" + std::to_string(m_port); }
    int connections() const { return m_accepted.load(); }

    // One BER element (short or long form length).
    static std::string tlv(unsigned char tag, const std::string& content) {
        std::string out(1, static_cast<char>(tag));
        const size_t n = content.size();
        if (n < 128) {
            out += static_cast<char>(n);
        } else {
            std::string len;
            for (size_t v = n; v != 0; v >>= 8)
                len.insert(len.begin(), static_cast<char>(v & 0xff));
            out += static_cast<char>(0x80 | len.size());
            out += len;
        }
        return out + content;
    }
    static std::string message(const std::string& id, unsigned char op, const std::string& body) {
        return tlv(0x30, tlv(0x02, id) + tlv(op, body));
    }
    static std::string result(const std::string& id, unsigned char op, int code = 0) {
        return message(
            id, op,
            tlv(0x0a, std::string(1, static_cast<char>(code))) + tlv(0x04, "") + tlv(0x04, ""));
    }
    std::string entry(const std::string& id) const {
        const std::string attr =
            tlv(0x30, tlv(0x04, "description") + tlv(0x31, tlv(0x04, m_value)));
        return message(id, 0x64, tlv(0x04, "cn=x") + tlv(0x30, attr));
    }

  private:
    // Complete requests at the head of buf: (message id bytes, operation tag).
    static bool nextRequest(std::string* buf, std::string* id, unsigned char* op) {
        const auto length = [&](size_t at, size_t* len, size_t* header) {
            if (at + 2 > buf->size())
                return false;
            const unsigned char first = static_cast<unsigned char>((*buf)[at + 1]);
            if (first < 128) {
                *len = first;
                *header = 2;
                return true;
            }
            const size_t k = first & 0x7f;
            if (at + 2 + k > buf->size())
                return false;
            *len = 0;
            for (size_t i = 0; i < k; ++i)
                *len = (*len << 8) | static_cast<unsigned char>((*buf)[at + 2 + i]);
            *header = 2 + k;
            return true;
        };
        size_t len = 0, header = 0;
        if (!length(0, &len, &header) || buf->size() < header + len)
            return false;
        size_t idLen = 0, idHeader = 0;
        length(header, &idLen, &idHeader);
        *id = buf->substr(header + idHeader, idLen);
        *op = static_cast<unsigned char>((*buf)[header + idHeader + idLen]);
        buf->erase(0, header + len);
        return true;
    }

    void send(int fd, const std::string& bytes) {
        size_t done = 0;
        while (done < bytes.size() && !m_stop) {
            const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            done += static_cast<size_t>(n);
        }
    }

    // Answers one request; false when the connection is to be closed.
    bool answer(int fd, const std::string& id, unsigned char op) {
        if (op == 0x42)  // unbind
            return false;
        if (m_mode == Mode::Silent || op == 0x50)  // abandon
            return true;
        if (op == 0x60) {
            send(fd, result(id, 0x61));
            return true;
        }
        if (op == 0x77) {  // extended: StartTLS, refused as unavailable
            send(fd, result(id, 0x78, 52));
            return true;
        }
        if (op != 0x63)
            return true;
        const std::string e = entry(id);
        switch (m_mode) {
            case Mode::BindOnly:
                return true;
            case Mode::Drop:
                return false;
            case Mode::Stall:
                send(fd, e.substr(0, e.size() / 2));
                return true;
            case Mode::Trickle: {
                const size_t chunk = e.size() / 8 + 1;
                for (size_t at = 0; at < e.size() && !m_stop; at += chunk) {
                    send(fd, e.substr(at, chunk));
                    std::this_thread::sleep_for(m_pause);
                }
                break;
            }
            default:
                send(fd, e);
        }
        send(fd, result(id, 0x65));
        return true;
    }

    void run() {
        const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        std::vector<std::string> buffers;
        while (!m_stop && std::chrono::steady_clock::now() < end) {
            std::vector<pollfd> fds{{m_listener, POLLIN, 0}};
            for (int fd : m_clients)
                fds.push_back({fd, POLLIN, 0});
            if (::poll(fds.data(), fds.size(), 50) <= 0)
                continue;
            if (fds[0].revents & POLLIN) {
                const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd >= 0) {
                    m_clients.push_back(fd);
                    buffers.emplace_back();
                    ++m_accepted;
                }
            }
            for (size_t i = 1; i < fds.size(); ++i) {
                if (fds[i].revents == 0)
                    continue;
                char chunk[4096];
                const ssize_t n = ::read(fds[i].fd, chunk, sizeof chunk);
                bool open = n > 0;
                std::string& buf = buffers[i - 1];
                if (open)
                    buf.append(chunk, static_cast<size_t>(n));
                std::string id;
                unsigned char op = 0;
                while (open && nextRequest(&buf, &id, &op))
                    open = answer(fds[i].fd, id, op);
                if (!open) {
                    ::close(fds[i].fd);
                    m_clients[i - 1] = -1;
                }
            }
            for (size_t i = m_clients.size(); i-- > 0;) {
                if (m_clients[i] < 0) {
                    m_clients.erase(m_clients.begin() + static_cast<long>(i));
                    buffers.erase(buffers.begin() + static_cast<long>(i));
                }
            }
        }
    }

    Mode m_mode;
    std::string m_value;
    std::chrono::milliseconds m_pause;
    int m_listener = -1;
    int m_port = 0;
    std::vector<int> m_clients;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_accepted{0};
    std::thread m_thread;
};

#endif
