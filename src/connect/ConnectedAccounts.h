#pragma once
// The account ids a plug-in object learned when it connected. Written by
// Connect only; read from the framework's calling thread.
#include <string>

namespace AmazonConnect {
struct ConnectedAccounts {
    std::string sourceAccountId;  // empty if unknown
    // The source account's id unless admin credentials name another account.
    std::string adminAccountId;
};
}  // namespace AmazonConnect
