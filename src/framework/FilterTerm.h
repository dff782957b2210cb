#pragma once
// CFilterTerm: one term of a user's filter (a tag name or a tag value),
// matched against a whole text with the wildcards '?' and '*' (FwWildcard,
// no path parts).
#include <string>

#include "framework/FrameworkApi.h"

struct BFilterTermOptions {
    // How letter case counts: kCaseExact compares as written, kCaseSmart
    // ignores case unless the term holds an upper-case letter, kCaseIgnore
    // ignores case.
    enum { kCaseExact = 0, kCaseSmart = 1, kCaseIgnore = 2 };
    int caseState = kCaseExact;
};

class FW_API CFilterTerm {
public:
    explicit CFilterTerm(const BFilterTermOptions& options = BFilterTermOptions()) : m_options(options) {}

    // Takes the text as the term itself: no quoting or escapes are read. An
    // empty term matches only an empty text.
    void LoadRaw(const std::string& term);
    bool Match(const std::string& text) const;

private:
    bool IgnoresCase() const;

    BFilterTermOptions m_options;
    std::string m_term;
};
