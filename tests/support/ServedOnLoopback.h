#pragma once
// Serves a cpp-httplib server on a loopback port for the life of the object.
// Construct it once every route is set: the server's thread starts at once.
#include <httplib.h>

#include <thread>

template <class Server>
class ServedOnLoopback {
public:
    explicit ServedOnLoopback(Server& server) : m_server(server) {
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running()) std::this_thread::yield();
    }
    ~ServedOnLoopback() {
        m_server.stop();
        m_thread.join();
    }
    ServedOnLoopback(const ServedOnLoopback&) = delete;
    ServedOnLoopback& operator=(const ServedOnLoopback&) = delete;
    int Port() const { return m_port; }

private:
    Server& m_server;
    int m_port = 0;
    std::thread m_thread;
};
