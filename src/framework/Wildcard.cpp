#include "framework/Wildcard.h"

#include <cctype>
#include <vector>

namespace FwWildcard {
namespace {

// Dynamic programming over (pattern position, text position) keeps the cost
// at pattern x text even for patterns full of stars, where backtracking
// would explode.
class Matcher {
public:
    Matcher(const std::string& pattern, const std::string& text, char delimiter, bool ignoreCase)
        : m_p(pattern), m_t(text), m_delim(delimiter), m_ignoreCase(ignoreCase),
          m_memo((pattern.size() + 1) * (text.size() + 1), kUnknown) {}

    bool At(size_t p, size_t t) {
        char& memo = m_memo[p * (m_t.size() + 1) + t];
        if (memo == kUnknown) memo = Compute(p, t) ? kYes : kNo;
        return memo == kYes;
    }

private:
    static constexpr char kUnknown = 0, kYes = 1, kNo = 2;

    bool Compute(size_t p, size_t t) {
        if (p == m_p.size()) return t == m_t.size();
        if (m_p[p] == '*') {
            const bool crossesParts = p + 1 < m_p.size() && m_p[p + 1] == '*';
            const size_t next = crossesParts ? p + 2 : p + 1;
            if (At(next, t)) return true;
            return t < m_t.size() && (crossesParts || !IsDelimiter(m_t[t])) && At(p, t + 1);
        }
        if (t == m_t.size()) return false;
        if (m_p[p] == '?') return !IsDelimiter(m_t[t]) && At(p + 1, t + 1);
        return Same(m_p[p], m_t[t]) && At(p + 1, t + 1);
    }

    bool IsDelimiter(char c) const { return m_delim != '\0' && c == m_delim; }

    bool Same(char a, char b) const {
        if (!m_ignoreCase) return a == b;
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    }

    const std::string& m_p;
    const std::string& m_t;
    char m_delim;
    bool m_ignoreCase;
    std::vector<char> m_memo;
};

}  // namespace

bool Match(const std::string& pattern, const std::string& text, char delimiter, bool ignoreCase) {
    return Matcher(pattern, text, delimiter, ignoreCase).At(0, 0);
}

}  // namespace FwWildcard
