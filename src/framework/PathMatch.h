#pragma once
// CPathMatch: the framework's matcher of path-like names (disk display
// names, device nodes) against a user's filter pattern, with the wildcards of
// FwWildcard ('?', '*' within one path part, "**" across parts).
//
// Init options:
//  - wholePath: the pattern must match the whole name. Without it a pattern
//    that matches a leading part of the name ending before a delimiter also
//    matches ("/dev/xvd*" then matches "/dev/xvdb/part1").
//  - lastPartOnly: a pattern holding no delimiter is matched against the
//    name's last part ("sdf" then matches "/dev/sdf").
// A matcher without a pattern (never initialised, or initialised with an
// empty one) matches nothing.
#include <string>

#include "framework/FrameworkApi.h"

class FW_API CPathMatch {
public:
    // delimiter: its first character separates the parts; empty: none.
    CPathMatch(const std::string& delimiter, bool caseSensitive);

    // False when the pattern is empty.
    bool Init(const std::string& pattern, bool wholePath, bool lastPartOnly);
    bool Match(const std::string& name) const;

private:
    bool MatchText(const std::string& text) const;

    char m_delimiter;
    bool m_caseSensitive;
    std::string m_pattern;
    bool m_wholePath = true;
    bool m_lastPartOnly = false;
};
