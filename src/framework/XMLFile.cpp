// Messages as XML files, through pugixml.
#include "framework/XMLFile.h"

#include <pugixml.hpp>

#include <cerrno>
#include <cstdlib>
#include <set>
#include <sstream>

#include "framework/FileUtils.h"

namespace {
const char kFormat[] = "vsXMLFile";

void Append(pugi::xml_node parent, const CNMessageBase& message) {
    pugi::xml_node node = parent.append_child("message");
    node.append_attribute("type") = message.Type().c_str();
    for (int n : message.FieldNumbers()) {
        if (message.IsList(n)) {
            pugi::xml_node list = node.append_child("list");
            list.append_attribute("n") = n;
            for (const auto& item : message.GetMessages(n)) Append(list, item);
        } else {
            pugi::xml_node field = node.append_child("field");
            field.append_attribute("n") = n;
            field.text().set(message.GetString(n).c_str());
        }
    }
}

bool FieldNumber(const pugi::xml_node& node, std::set<int>& seen, int& n, std::string& error) {
    const char* text = node.attribute("n").value();
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (!*text || *end || errno || value <= 0 || value > 100000) {
        error = std::string("field number [") + text + "] is not a positive integer";
        return false;
    }
    n = static_cast<int>(value);
    if (!seen.insert(n).second) {
        error = "field " + std::to_string(n) + " appears twice";
        return false;
    }
    return true;
}

bool Read(const pugi::xml_node& node, int depth, CNMessageBase& out, std::string& error) {
    if (depth > vsXMLFile::kMaxDepth) {
        error = "messages nested too deep";
        return false;
    }
    CNMessageBase message(node.attribute("type").value());
    std::set<int> seen;
    for (pugi::xml_node child : node.children()) {
        if (child.type() != pugi::node_element) continue;
        int n = 0;
        const std::string name = child.name();
        if (name != "field" && name != "list") {
            error = "unexpected element <" + name + ">";
            return false;
        }
        if (!FieldNumber(child, seen, n, error)) return false;
        if (name == "field") {
            message.SetString(n, child.text().get());
            continue;
        }
        for (pugi::xml_node item : child.children()) {
            if (item.type() != pugi::node_element) continue;
            CNMessageBase nested;
            if (std::string(item.name()) != "message" || !Read(item, depth + 1, nested, error)) {
                if (error.empty()) error = "a list holds something other than messages";
                return false;
            }
            message.AddMessage(n, nested);
        }
    }
    out = std::move(message);
    return true;
}
}  // namespace

std::string vsXMLFile::ToText(const CNMessageBase& message) {
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("vsXML");
    root.append_attribute("format") = kFormat;
    root.append_attribute("version") = 1;
    Append(root, message);
    std::ostringstream out;
    doc.save(out, "  ");
    return out.str();
}

bool vsXMLFile::FromText(const std::string& text, CNMessageBase& message, std::string& error) {
    message = CNMessageBase(message.Type());
    if (text.size() > kMaxFileBytes) {
        error = "the file is larger than 64 MiB";
        return false;
    }
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_buffer(text.data(), text.size());
    if (!parsed) {
        error = std::string("malformed XML at offset ") + std::to_string(parsed.offset) + ": " + parsed.description();
        return false;
    }
    const pugi::xml_node root = doc.child("vsXML");
    if (!root || std::string(root.attribute("format").value()) != kFormat ||
        std::string(root.attribute("version").value()) != "1") {
        error = "not a vsXMLFile of version 1";
        return false;
    }
    const pugi::xml_node node = root.child("message");
    if (!node) {
        error = "the file holds no message";
        return false;
    }
    CNMessageBase read;
    if (!Read(node, 1, read, error)) return false;
    if (!message.Type().empty() && read.Type() != message.Type()) {
        error = "a message of type [" + read.Type() + "], not [" + message.Type() + "]";
        return false;
    }
    message = std::move(read);
    return true;
}

bool vsXMLFile::Save(const std::string& path, const CNMessageBase& message, std::string& error) {
    if (FwFile::WriteAllAtomic(path, ToText(message))) return true;
    error = "cannot write [" + path + "]";
    return false;
}

bool vsXMLFile::Load(const std::string& path, CNMessageBase& message, std::string& error) {
    const int64_t size = FwFile::FileSize(path);
    if (size < 0) {
        error = "cannot read [" + path + "]";
        return false;
    }
    if (static_cast<uint64_t>(size) > kMaxFileBytes) {
        error = "the file is larger than 64 MiB";
        return false;
    }
    std::string text;
    if (!FwFile::ReadAll(path, text)) {
        error = "cannot read [" + path + "]";
        return false;
    }
    return FromText(text, message, error);
}
