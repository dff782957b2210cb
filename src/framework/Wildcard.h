#pragma once
// The framework's wildcard matching, shared by CPathMatch and CFilterTerm.
// '?' stands for one character and '*' for any run of characters; when a
// delimiter is given, neither crosses it ("**" does, for a run spanning
// several path parts). Every other character stands for itself.
#include <string>

#include "framework/FrameworkApi.h"

namespace FwWildcard {

// delimiter '\0': the text has no parts. The whole text must match.
FW_API bool Match(const std::string& pattern, const std::string& text, char delimiter, bool ignoreCase);

}  // namespace FwWildcard
