#pragma once
// vsXMLFile: the framework's XML file of one message (CNMessageBase), as
// catalogues and other framework metadata are kept on disk:
//
//   <vsXML format="vsXMLFile" version="1">
//     <message type="T"><field n="1">text</field>
//       <list n="14"><message type="U">...</message></list></message>
//   </vsXML>
//
// Saved atomically. Load refuses (with a reason, the message left empty)
// malformed or cut XML, another format or version, a field number that is
// not a positive integer or appears twice, nesting deeper than 32 and files
// over 64 MiB.
#include <string>

#include "framework/FrameworkApi.h"
#include "framework/MessageBase.h"

class FW_API vsXMLFile {
public:
    static constexpr size_t kMaxFileBytes = 64u << 20;
    static constexpr int kMaxDepth = 32;

    static bool Save(const std::string& path, const CNMessageBase& message, std::string& error);
    static bool Load(const std::string& path, CNMessageBase& message, std::string& error);
    // The same on text rather than a file.
    static std::string ToText(const CNMessageBase& message);
    static bool FromText(const std::string& text, CNMessageBase& message, std::string& error);
};
