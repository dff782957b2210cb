#pragma once
// The JSON files the host writes and later reads back (a chain's chain.json,
// a point's manifest.json) open with {"format": ..., "version": ...}, as the
// instance configuration file does, so that a reader never takes a file of
// another kind or of a layout it does not know for one it can use.
#include <string>

#include <nlohmann/json_fwd.hpp>

// A new document of format and version, to add the content to.
nlohmann::json VersionedDocument(const char* format, int version);

// Reads path as a document of format and version. False, with a reason that
// names the file, when it cannot be read, is not a JSON object, is of another
// format, or carries a version other than the one given.
bool ReadVersioned(const std::string& path, const char* format, int version, nlohmann::json& out, std::string& why);
