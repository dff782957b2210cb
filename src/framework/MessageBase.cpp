#include "framework/MessageBase.h"

#include <nlohmann/json.hpp>

#include "framework/Base64.h"
#include "framework/Hashing.h"

namespace {
const char kPrefix[] = "CNM1:";
constexpr size_t kPrefixLength = sizeof(kPrefix) - 1;
constexpr size_t kCheckLength = 16;

std::string Check(const std::string& payload) {
    return KdcHash::HexEncode(KdcSHA256::Digest(payload).substr(0, kCheckLength / 2));
}
}  // namespace

struct CNMessageCodec {
    static nlohmann::json ToJson(const CNMessageBase& m) {
        nlohmann::json fields = nlohmann::json::object();
        for (const auto& [number, field] : m.m_fields) {
            if (!field.isList) {
                fields[std::to_string(number)] = field.text;
                continue;
            }
            nlohmann::json list = nlohmann::json::array();
            for (const auto& item : field.list) list.push_back(ToJson(item));
            fields[std::to_string(number)] = std::move(list);
        }
        return {{"type", m.m_type}, {"fields", std::move(fields)}};
    }

    static bool FromJson(const nlohmann::json& j, CNMessageBase& m) {
        if (!j.is_object() || !j.contains("type") || !j["type"].is_string() || !j.contains("fields") ||
            !j["fields"].is_object())
            return false;
        m.m_type = j["type"].get<std::string>();
        m.m_fields.clear();
        for (const auto& [key, value] : j["fields"].items()) {
            size_t used = 0;
            int number = 0;
            try {
                number = std::stoi(key, &used);
            } catch (...) {
                return false;
            }
            if (used != key.size() || number <= 0) return false;
            CNMessageBase::Field field;
            if (value.is_string()) {
                field.text = value.get<std::string>();
            } else if (value.is_array()) {
                field.isList = true;
                for (const auto& item : value) {
                    CNMessageBase nested;
                    if (!FromJson(item, nested)) return false;
                    field.list.push_back(std::move(nested));
                }
            } else {
                return false;
            }
            m.m_fields[number] = std::move(field);
        }
        return true;
    }
};

void CNMessageBase::SetString(int field, const std::string& value) {
    Field& f = m_fields[field];
    f.isList = false;
    f.list.clear();
    f.text = value;
}

std::string CNMessageBase::GetString(int field) const {
    auto it = m_fields.find(field);
    return it == m_fields.end() || it->second.isList ? std::string() : it->second.text;
}

void CNMessageBase::AddMessage(int field, const CNMessageBase& message) {
    Field& f = m_fields[field];
    f.isList = true;
    f.text.clear();
    f.list.push_back(message);
}

std::vector<CNMessageBase> CNMessageBase::GetMessages(int field) const {
    auto it = m_fields.find(field);
    return it == m_fields.end() || !it->second.isList ? std::vector<CNMessageBase>() : it->second.list;
}

std::vector<int> CNMessageBase::FieldNumbers() const {
    std::vector<int> numbers;
    for (const auto& entry : m_fields) numbers.push_back(entry.first);
    return numbers;
}

bool CNMessageBase::IsList(int field) const {
    auto it = m_fields.find(field);
    return it != m_fields.end() && it->second.isList;
}

int CNMessageBase::Serialize(std::string& out) const {
    out.clear();
    std::string payload;
    try {
        payload = CNMessageCodec::ToJson(*this).dump();
    } catch (const std::exception&) {
        return kErrContent;   // a value that is not UTF-8 text
    }
    std::string encoded;
    if (!KdcBase64::Encode(payload, encoded)) return kErrContent;
    out = std::string(kPrefix) + Check(payload) + ":" + encoded;
    return kOk;
}

int CNMessageBase::Deserialize(const std::string& in) {
    const std::string wantedType = m_type;
    m_fields.clear();
    if (in.size() < kPrefixLength + kCheckLength + 1 || in.compare(0, kPrefixLength, kPrefix) != 0 ||
        in[kPrefixLength + kCheckLength] != ':')
        return kErrFormat;
    // Base64 ignores the unused low bits of the character before the fill,
    // so an id altered there decodes to the very payload it checks: only the
    // encoding Serialize writes is that id.
    const std::string encoded = in.substr(kPrefixLength + kCheckLength + 1);
    std::string payload, canonical;
    if (!KdcBase64::Decode(encoded, payload) || !KdcBase64::Encode(payload, canonical) || canonical != encoded)
        return kErrChecksum;
    if (Check(payload) != in.substr(kPrefixLength, kCheckLength)) return kErrChecksum;
    nlohmann::json j = nlohmann::json::parse(payload, nullptr, false);
    CNMessageBase parsed;
    if (j.is_discarded() || !CNMessageCodec::FromJson(j, parsed)) return kErrContent;
    if (!wantedType.empty() && parsed.m_type != wantedType) return kErrType;
    *this = std::move(parsed);
    return kOk;
}
