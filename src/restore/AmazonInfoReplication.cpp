// Replication restores: the method a replica is kept up to date with, as its
// replication properties record it.
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/MessageBase.h"

namespace {
// The framework's replication properties: a message of class 26, a list
// (sub-type 17) of name/value pairs (sub-type 14).
constexpr char kPropertyListType[] = "26.17";
constexpr char kPropertyType[] = "26.14";
constexpr int kListField = 1;
constexpr int kNameField = 1;
constexpr int kValueField = 2;
constexpr char kMethodProperty[] = "AmazonReplicationMethod";
constexpr char kHotAddValue[] = "AmazonReplicationMethodHotAdd";
constexpr char kImportValue[] = "AmazonReplicationMethodImport";
}  // namespace

AmazonReplicationMethod CAmazonInfo::ForceAnyReplicationMethod(const RestoreCtx& ctx) {
    const std::string& text = ctx.replicationProperties;
    if (text.empty()) return AmazonReplicationMethodNone;
    CNMessageBase list(kPropertyListType);
    const int code = list.Deserialize(text);
    if (code != CNMessageBase::kOk) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to unserialize xml string [%s], error code [%d]", text.c_str(),
                       code);
        return AmazonReplicationMethodUnparsed;
    }
    for (const auto& pair : list.GetMessages(kListField)) {
        if (pair.Type() != kPropertyType || pair.GetString(kNameField) != kMethodProperty) continue;
        const std::string value = pair.GetString(kValueField);
        if (value == kHotAddValue) return AmazonReplicationMethodHotAdd;
        if (value == kImportValue) return AmazonReplicationMethodImport;
    }
    return AmazonReplicationMethodNone;
}

bool CAmazonInfo::UpdateSelectedReplicationMethod(const RestoreCtx& ctx, AmazonReplicationMethod method) {
    CNMessageBase pair(kPropertyType);
    pair.SetString(kNameField, kMethodProperty);
    pair.SetString(kValueField, method == AmazonReplicationMethodImport ? kImportValue : kHotAddValue);
    CNMessageBase list(kPropertyListType);
    list.AddMessage(kListField, pair);
    std::string& out = ctx.Out().replicationProperties;
    out.clear();
    if (list.Serialize(out) != CNMessageBase::kOk) {
        out.clear();
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to serialize.");
        return false;
    }
    EvDebug::Debug(__PRETTY_FUNCTION__, "Serialized xml [%s].", out.c_str());
    return true;
}
