#pragma once
// Host-name resolution through the system resolver (getaddrinfo), so that
// /etc/hosts and the proxy's DNS settings apply. Addresses come back as
// numeric text, in the resolver's order, without duplicates. The agent's
// host table (setting Base/sHostAddresses: "HOST=ADDRESS,...") answers first,
// as /etc/hosts would.
#include <string>
#include <vector>

#include "framework/FrameworkApi.h"

class FW_API FwHostResolver {
public:
    // IPv4 addresses only. On failure returns false with the resolver's
    // message in error.
    static bool ResolveIPv4(const std::string& host, std::vector<std::string>& addresses, std::string& error);
    // The first address of any family, as the resolver orders them; callers
    // that need IPv4 must check the result themselves.
    static bool ResolveFirst(const std::string& host, std::string& address, std::string& error);
};
