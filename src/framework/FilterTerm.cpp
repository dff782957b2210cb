#include "framework/FilterTerm.h"

#include <algorithm>
#include <cctype>

#include "framework/Wildcard.h"

void CFilterTerm::LoadRaw(const std::string& term) { m_term = term; }

bool CFilterTerm::IgnoresCase() const {
    switch (m_options.caseState) {
        case BFilterTermOptions::kCaseIgnore:
            return true;
        case BFilterTermOptions::kCaseSmart:
            return std::none_of(m_term.begin(), m_term.end(),
                                [](char c) { return std::isupper(static_cast<unsigned char>(c)) != 0; });
        default:
            return false;
    }
}

bool CFilterTerm::Match(const std::string& text) const {
    return FwWildcard::Match(m_term, text, '\0', IgnoresCase());
}
