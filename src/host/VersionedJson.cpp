#include "host/VersionedJson.h"

#include <nlohmann/json.hpp>

#include "framework/FileUtils.h"

nlohmann::json VersionedDocument(const char* format, int version) {
    return nlohmann::json{{"format", format}, {"version", version}};
}

bool ReadVersioned(const std::string& path, const char* format, int version, nlohmann::json& out, std::string& why) {
    std::string text;
    if (!FwFile::ReadAll(path, text)) {
        why = "cannot read " + path;
        return false;
    }
    out = nlohmann::json::parse(text, nullptr, false);
    if (out.is_discarded() || !out.is_object()) {
        why = path + " is not a JSON object";
        return false;
    }
    const auto f = out.find("format");
    const auto v = out.find("version");
    if (f == out.end() || v == out.end()) {
        why = path + " carries no format and version: it is not a " + format + " file this host can read";
        return false;
    }
    if (!f->is_string() || f->get<std::string>() != format) {
        why = path + " is a " + f->dump() + " file, not a " + format + " file";
        return false;
    }
    if (!v->is_number_integer() || v->get<long long>() != version) {
        why = path + " is " + format + " version " + v->dump() + "; this host reads version " +
              std::to_string(version) + " only";
        return false;
    }
    return true;
}
