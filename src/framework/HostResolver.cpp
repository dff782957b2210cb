#include "framework/HostResolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <memory>

#include "framework/KDPlatformInfo.h"

namespace {
struct AddrInfoFree {
    void operator()(addrinfo* p) const { freeaddrinfo(p); }
};

// The agent's own host table (setting Base/sHostAddresses, entries
// "HOST=ADDRESS"), consulted before the system resolver like /etc/hosts.
bool FromHostTable(const std::string& host, int family, std::vector<std::string>& out) {
    std::vector<std::string> entries;
    KDPlatformInfo().getStringList("Base", "sHostAddresses", entries);
    for (const auto& e : entries) {
        size_t eq = e.find('=');
        if (eq == std::string::npos || e.compare(0, eq, host) != 0) continue;
        std::string address = e.substr(eq + 1);
        const bool v6 = address.find(':') != std::string::npos;
        if ((family == AF_INET && v6) || (family == AF_INET6 && !v6)) continue;
        if (std::find(out.begin(), out.end(), address) == out.end()) out.push_back(address);
    }
    return !out.empty();
}

bool Resolve(const std::string& host, int family, std::vector<std::string>& out, std::string& error) {
    out.clear();
    error.clear();
    if (host.empty()) {
        error = "empty host name";
        return false;
    }
    if (FromHostTable(host, family, out)) return true;
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* raw = nullptr;
    int rc = getaddrinfo(host.c_str(), nullptr, &hints, &raw);
    std::unique_ptr<addrinfo, AddrInfoFree> list(raw);
    if (rc != 0) {
        error = gai_strerror(rc);
        return false;
    }
    for (addrinfo* a = list.get(); a; a = a->ai_next) {
        char text[INET6_ADDRSTRLEN] = {};
        const void* addr = nullptr;
        if (a->ai_family == AF_INET)
            addr = &reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr;
        else if (a->ai_family == AF_INET6)
            addr = &reinterpret_cast<const sockaddr_in6*>(a->ai_addr)->sin6_addr;
        if (!addr || !inet_ntop(a->ai_family, addr, text, sizeof text)) continue;
        if (std::find(out.begin(), out.end(), text) == out.end()) out.emplace_back(text);
    }
    if (out.empty()) {
        error = "no address found";
        return false;
    }
    return true;
}
}  // namespace

bool FwHostResolver::ResolveIPv4(const std::string& host, std::vector<std::string>& addresses, std::string& error) {
    return Resolve(host, AF_INET, addresses, error);
}

bool FwHostResolver::ResolveFirst(const std::string& host, std::string& address, std::string& error) {
    std::vector<std::string> all;
    address.clear();
    if (!Resolve(host, AF_UNSPEC, all, error)) return false;
    address = all.front();
    return true;
}
