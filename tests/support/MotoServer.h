#pragma once
// moto_server, an AWS emulator nobody here wrote, as the peer of tests that
// check the wire formats: started on a port the kernel picks, serving TLS
// with the given certificate, in a process group of its own that is ended
// with the object. Tests skip with a message when it is not installed.
#include <sys/types.h>

#include <mutex>
#include <string>
#include <thread>

// True when program is an executable file in one of PATH's folders.
bool OnPath(const std::string& program);

// Runs a shell command; its stdout, and its wait status in status.
std::string RunCommand(const std::string& command, int& status);

class MotoServer {
public:
    MotoServer(const std::string& certFile, const std::string& keyFile);
    ~MotoServer();
    MotoServer(const MotoServer&) = delete;
    MotoServer& operator=(const MotoServer&) = delete;

    // 0 when it did not start or listen; Output() then says why.
    int Port() const { return m_port; }
    std::string Output();

private:
    void WaitUntilListening();
    bool ReadSome();
    void Drain();

    pid_t m_pid = -1;
    int m_fd = -1;
    int m_port = 0;
    std::mutex m_mutex;
    std::string m_output;
    std::thread m_drain;
};
