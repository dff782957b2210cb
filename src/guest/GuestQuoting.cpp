// PowerShell literals for guest paths.
#include "guest/GuestState.h"

namespace AmazonGuest {

std::string PsLiteral(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out + "'";
}

}  // namespace AmazonGuest
