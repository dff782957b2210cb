#pragma once
// Loopback sockets for transport failures: a port that listens but never
// answers, and one nobody listens on.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

// A socket that listens but never accepts: the kernel completes the TCP
// handshake, the TLS handshake never gets an answer.
class SilentListener {
public:
    SilentListener() {
        m_fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(m_fd, 4) != 0 ||
            getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            throw std::runtime_error("listener set-up failed");
        m_port = ntohs(a.sin_port);
    }
    ~SilentListener() { Close(); }
    void Close() {
        if (m_fd >= 0) close(m_fd);
        m_fd = -1;
    }
    int Port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};

// A loopback port nobody listens on.
inline int ClosedPort() {
    SilentListener gone;
    return gone.Port();
}
