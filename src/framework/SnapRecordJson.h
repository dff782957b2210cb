#pragma once
// The snapshot manager's job record as the store keeps it: JSON opening
// with {"format": "SnapJobRecord", "version": 1}. Private to the framework.
#include <string>

#include "records/SnapManagerRecords.h"

namespace SnapRecordJson {
std::string Write(const SMVolSnapInfo& record);
// False, with record untouched, for text of another format or version or
// with a field of the wrong kind.
bool Read(const std::string& text, SMVolSnapInfo& record, std::string& error);
}  // namespace SnapRecordJson
