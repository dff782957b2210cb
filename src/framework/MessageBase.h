#pragma once
// The framework's message class: a typed message whose fields are filled and
// read by number, serialised to one printable string that the framework
// stores (a backup's change id, for one) and hands back in a later job.
//
// Wire form, version 1:  "CNM1:" <16 hex digits> ":" <base64 payload>
// The payload is JSON {"type": T, "fields": {"N": value, ...}} where a value
// is a string or a list of nested payloads; the hex digits are the first
// eight bytes of the payload's SHA-256. A string that is truncated, altered,
// of another version or of another message type is refused with a non-zero
// code rather than read as something else.
#include <map>
#include <string>
#include <vector>

#include "framework/FrameworkApi.h"

class FW_API CNMessageBase {
public:
    // Result codes of Serialize and Deserialize.
    static constexpr int kOk = 0;
    static constexpr int kErrFormat = 0x101;     // not this wire form or version
    static constexpr int kErrChecksum = 0x102;   // truncated or altered
    static constexpr int kErrContent = 0x103;    // payload not a message
    static constexpr int kErrType = 0x104;       // a message of another type

    explicit CNMessageBase(std::string type = std::string()) : m_type(std::move(type)) {}

    const std::string& Type() const { return m_type; }
    void SetString(int field, const std::string& value);
    // "" when the field is absent.
    std::string GetString(int field) const;
    void AddMessage(int field, const CNMessageBase& message);
    std::vector<CNMessageBase> GetMessages(int field) const;
    // The numbers of the fields set, ascending; whether one holds a list.
    std::vector<int> FieldNumbers() const;
    bool IsList(int field) const;

    int Serialize(std::string& out) const;
    // Replaces this message's fields; on failure they are left empty.
    int Deserialize(const std::string& in);

private:
    struct Field {
        bool isList = false;
        std::string text;
        std::vector<CNMessageBase> list;
    };
    std::string m_type;
    std::map<int, Field> m_fields;

    friend struct CNMessageCodec;
};
