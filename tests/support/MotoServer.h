#pragma once
// moto's server, an AWS emulator nobody here wrote, as the peer of tests
// that check the wire formats: started through tests/peer/moto_launcher.py
// (moto with the two AWS behaviours it lacks and a backup needs) on a port
// the kernel picks, serving TLS with the given certificate, in a process
// group of its own that is ended with the object. Tests skip with a message
// when moto_server (moto[server]) is not installed.
//
// ProxyMetadata: tests/peer/proxy_metadata.py, the metadata service of a
// proxy that is a moto instance, over plain HTTP.
#include <sys/types.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// True when program is an executable file in one of PATH's folders.
bool OnPath(const std::string& program);

// Runs a shell command; its stdout, and its wait status in status.
std::string RunCommand(const std::string& command, int& status);

// A helper server process that says "Running on <scheme>://127.0.0.1:PORT"
// once it listens.
class PeerProcess {
public:
    ~PeerProcess();
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    // 0 when it did not start or listen; Output() then says why.
    int Port() const { return m_port; }
    std::string Output();
    // Ends it at once (SIGKILL to its group); Port() stays as it was.
    void Kill();
    // Until the output holds text, for at most boundMs of wall time (a
    // bound on a peer that is never reached, not a pause): whether it does.
    bool WaitForOutput(const std::string& text, int boundMs);

protected:
    // environment: "NAME=value" entries added to this process's.
    PeerProcess(std::vector<std::string> args, const std::string& scheme,
                const std::vector<std::string>& environment = {});

private:
    void WaitUntilListening(const std::string& marker);
    bool ReadSome();
    void Drain();

    pid_t m_pid = -1;
    int m_fd = -1;
    int m_port = 0;
    std::mutex m_mutex;
    std::condition_variable m_grown;
    std::string m_output;
    std::thread m_drain;
};

class MotoServer : public PeerProcess {
public:
    // defaultImages false: without moto's built-in public AMIs (and their
    // thousand snapshots), which make every listing of the account slow.
    MotoServer(const std::string& certFile, const std::string& keyFile, bool defaultImages = true);
};

class ProxyMetadata : public PeerProcess {
public:
    ProxyMetadata(const std::string& instanceId, const std::string& zone);
};

// tests/peer/connect_proxy.py: a web proxy with basic authentication whose
// tunnels all lead to targetPort on loopback.
class WebProxy : public PeerProcess {
public:
    WebProxy(const std::string& user, const std::string& password, int targetPort);
};

// tests/peer/fault_proxy.py in front of moto at motoPort; options as the
// script takes them ("--random", "0.2", ...).
class FaultProxy : public PeerProcess {
public:
    FaultProxy(const std::string& certFile, const std::string& keyFile, const std::string& caFile, int motoPort,
               const std::vector<std::string>& options);
};
