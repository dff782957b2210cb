#include "framework/PathMatch.h"

#include "framework/Wildcard.h"

CPathMatch::CPathMatch(const std::string& delimiter, bool caseSensitive)
    : m_delimiter(delimiter.empty() ? '\0' : delimiter[0]), m_caseSensitive(caseSensitive) {}

bool CPathMatch::Init(const std::string& pattern, bool wholePath, bool lastPartOnly) {
    m_pattern = pattern;
    m_wholePath = wholePath;
    m_lastPartOnly = lastPartOnly;
    return !m_pattern.empty();
}

bool CPathMatch::MatchText(const std::string& text) const {
    return FwWildcard::Match(m_pattern, text, m_delimiter, !m_caseSensitive);
}

bool CPathMatch::Match(const std::string& name) const {
    if (m_pattern.empty()) return false;
    const bool patternHasParts = m_delimiter != '\0' && m_pattern.find(m_delimiter) != std::string::npos;
    if (m_lastPartOnly && !patternHasParts && m_delimiter != '\0') {
        const size_t cut = name.rfind(m_delimiter);
        return MatchText(cut == std::string::npos ? name : name.substr(cut + 1));
    }
    if (MatchText(name)) return true;
    if (m_wholePath || m_delimiter == '\0') return false;
    for (size_t cut = name.find(m_delimiter); cut != std::string::npos; cut = name.find(m_delimiter, cut + 1))
        if (cut > 0 && MatchText(name.substr(0, cut))) return true;
    return false;
}
