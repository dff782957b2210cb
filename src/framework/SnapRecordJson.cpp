// JSON form of the snapshot manager's job records.
#include "framework/SnapRecordJson.h"

#include <nlohmann/json.hpp>

using nlohmann::json;

namespace {
const char kFormat[] = "SnapJobRecord";
constexpr int kVersion = 1;

json VolumeJson(const SMVolumeInfo& v) {
    return {{"volumeId", v.volumeId},       {"sourcePath", v.sourcePath},     {"sourceGuid", v.sourceGuid},
            {"sourceDevice", v.sourceDevice}, {"mountDevice", v.mountDevice}, {"mountPath", v.mountPath},
            {"mountHostId", v.mountHostId}, {"mountStatus", v.mountStatus},   {"jobId", v.jobId},
            {"masterJobId", v.masterJobId}, {"hubCellId", v.hubCellId},       {"appId", v.appId},
            {"appTypeId", v.appTypeId},     {"originClientId", v.originClientId}, {"sourceClientId", v.sourceClientId},
            {"volumeFlags", v.volumeFlags}, {"archiveFileId", v.archiveFileId}};
}

SMVolumeInfo VolumeFrom(const json& j) {
    SMVolumeInfo v;
    v.volumeId = j.at("volumeId").get<uint32_t>();
    v.sourcePath = j.at("sourcePath").get<std::string>();
    v.sourceGuid = j.at("sourceGuid").get<std::string>();
    v.sourceDevice = j.at("sourceDevice").get<std::string>();
    v.mountDevice = j.at("mountDevice").get<std::string>();
    v.mountPath = j.at("mountPath").get<std::string>();
    v.mountHostId = j.at("mountHostId").get<uint32_t>();
    v.mountStatus = j.at("mountStatus").get<int>();
    v.jobId = j.at("jobId").get<int64_t>();
    v.masterJobId = j.at("masterJobId").get<int64_t>();
    v.hubCellId = j.at("hubCellId").get<int32_t>();
    v.appId = j.at("appId").get<int32_t>();
    v.appTypeId = j.at("appTypeId").get<int32_t>();
    v.originClientId = j.at("originClientId").get<int32_t>();
    v.sourceClientId = j.at("sourceClientId").get<int32_t>();
    v.volumeFlags = j.at("volumeFlags").get<uint64_t>();
    v.archiveFileId = j.at("archiveFileId").get<uint32_t>();
    return v;
}

json SnapJson(const SMSnapInfo& s) {
    return {{"snapId", s.snapId},         {"status", s.status},           {"sourceDevice", s.sourceDevice},
            {"snapDevice", s.snapDevice}, {"errorCode", s.errorCode},     {"errorText", s.errorText},
            {"snapEngineId", s.snapEngineId}, {"controlHostId", s.controlHostId}, {"snapFlags", s.snapFlags}};
}

SMSnapInfo SnapFrom(const json& j) {
    SMSnapInfo s;
    s.snapId = j.at("snapId").get<uint32_t>();
    s.status = j.at("status").get<int>();
    s.sourceDevice = j.at("sourceDevice").get<std::string>();
    s.snapDevice = j.at("snapDevice").get<std::string>();
    s.errorCode = j.at("errorCode").get<int>();
    s.errorText = j.at("errorText").get<std::string>();
    s.snapEngineId = j.at("snapEngineId").get<int32_t>();
    s.controlHostId = j.at("controlHostId").get<uint32_t>();
    s.snapFlags = j.at("snapFlags").get<uint64_t>();
    return s;
}

json MetaJson(const SMMetaDataInfo& m) {
    return {{"dbOperationMode", m.dbOperationMode}, {"metadataId", m.metadataId}, {"type", m.type},
            {"referenceType", m.referenceType},     {"referenceId", m.referenceId}, {"metadata", m.metadata}};
}

SMMetaDataInfo MetaFrom(const json& j) {
    SMMetaDataInfo m;
    m.dbOperationMode = j.at("dbOperationMode").get<uint32_t>();
    m.metadataId = j.at("metadataId").get<uint32_t>();
    m.type = j.at("type").get<int>();
    m.referenceType = j.at("referenceType").get<int>();
    m.referenceId = j.at("referenceId").get<uint32_t>();
    m.metadata = j.at("metadata").get<std::string>();
    return m;
}
}  // namespace

std::string SnapRecordJson::Write(const SMVolSnapInfo& r) {
    json j = {{"format", kFormat},       {"version", kVersion},         {"jobId", r.jobId},
              {"actionFlags", r.actionFlags}, {"snapActionFlags", r.snapActionFlags}, {"arrayNumber", r.arrayNumber},
              {"mountHostId", r.mountHostId}, {"ostrelMountMode", r.ostrelMountMode}, {"errorCode", r.errorCode},
              {"errorText", r.errorText}, {"loadMode", r.loadMode}};
    j["volumes"] = json::array();
    for (const auto& v : r.volumes) j["volumes"].push_back(VolumeJson(v));
    j["snaps"] = json::array();
    for (const auto& s : r.snaps) j["snaps"].push_back(SnapJson(s));
    j["volSnapMaps"] = json::array();
    for (const auto& m : r.volSnapMaps) j["volSnapMaps"].push_back({{"volumeId", m.volumeId}, {"snapId", m.snapId}});
    j["metadata"] = json::array();
    for (const auto& m : r.metadata) j["metadata"].push_back(MetaJson(m));
    return j.dump();
}

bool SnapRecordJson::Read(const std::string& text, SMVolSnapInfo& record, std::string& error) {
    try {
        const json j = json::parse(text);
        if (j.value("format", std::string()) != kFormat || j.value("version", 0) != kVersion) {
            error = "not a snapshot job record of version 1";
            return false;
        }
        SMVolSnapInfo r;
        r.jobId = j.at("jobId").get<int64_t>();
        r.actionFlags = j.at("actionFlags").get<uint64_t>();
        r.snapActionFlags = j.at("snapActionFlags").get<uint32_t>();
        r.arrayNumber = j.at("arrayNumber").get<uint32_t>();
        r.mountHostId = j.at("mountHostId").get<uint32_t>();
        r.ostrelMountMode = j.at("ostrelMountMode").get<int>();
        r.errorCode = j.at("errorCode").get<int>();
        r.errorText = j.at("errorText").get<std::string>();
        r.loadMode = j.at("loadMode").get<int>();
        for (const auto& v : j.at("volumes")) r.volumes.push_back(VolumeFrom(v));
        for (const auto& s : j.at("snaps")) r.snaps.push_back(SnapFrom(s));
        for (const auto& m : j.at("volSnapMaps")) r.AddVolSnapMap(m.at("volumeId").get<uint32_t>(), m.at("snapId").get<uint32_t>());
        for (const auto& m : j.at("metadata")) r.metadata.push_back(MetaFrom(m));
        record = std::move(r);
        return true;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}
