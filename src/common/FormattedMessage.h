#pragma once
// Messages in the framework's formatted style: "{1}", "{2}", ... stand for
// the first, second, ... argument, each wherever and as often as it occurs.
// One pass over the text: an argument that itself holds "{2}" stays as it
// is, and a placeholder without its argument is left as written.
#include <cctype>
#include <string>
#include <vector>

namespace AmazonCommon {

inline std::string FormatMessage(const std::string& text, const std::vector<std::string>& args) {
    std::string out;
    size_t at = 0;
    while (at < text.size()) {
        const size_t open = text.find('{', at);
        const size_t close = open == std::string::npos ? open : text.find('}', open);
        if (close == std::string::npos) break;
        const std::string digits = text.substr(open + 1, close - open - 1);
        bool number = !digits.empty() && digits.size() < 4;
        for (char c : digits) number = number && std::isdigit(static_cast<unsigned char>(c));
        const size_t n = number ? std::stoul(digits) : 0;
        out.append(text, at, open - at);
        if (n >= 1 && n <= args.size()) {
            out += args[n - 1];
            at = close + 1;
        } else {
            out += '{';
            at = open + 1;
        }
    }
    if (at < text.size()) out.append(text, at, std::string::npos);
    return out;
}

}  // namespace AmazonCommon
