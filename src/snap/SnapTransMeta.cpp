// Transient metadata text: writer and reader of the "key:value;" pairs.
#include "snap/SnapTransMeta.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <set>

#include "framework/ProtectedString.h"
#include "framework/VMSnapUtil.h"

namespace {
using Meta = AmazonSnapTransMetaInfo;

struct Field {
    const char* key;
    int32_t Meta::*number;
    std::string Meta::*text;
};

// The order is the wire order.
const Field kFields[] = {
    {"appType", &Meta::appType, nullptr},
    {"contentId", &Meta::contentId, nullptr},
    {"regionId", &Meta::regionId, nullptr},
    {"isMultiAZ", &Meta::isMultiAZ, nullptr},
    {"doAttachVol", &Meta::doAttachVol, nullptr},
    {"arrayName", nullptr, &Meta::arrayName},
    {"ec2Instance", nullptr, &Meta::ec2Instance},
    {"securityGroup", nullptr, &Meta::securityGroup},
    {"snapUUID", nullptr, &Meta::snapUUID},
    {"tagInfo", nullptr, &Meta::tagInfo},
    {"targetInstance", nullptr, &Meta::targetInstance},
    {"targetRegion", nullptr, &Meta::targetRegion},
    {"targetAvailibilityZone", nullptr, &Meta::targetAvailibilityZone},
    {"description", nullptr, &Meta::description},
    {"opType", &Meta::opType, nullptr},
    {"reservedStr2", nullptr, &Meta::reservedStr2},
    {"nameTag", nullptr, &Meta::nameTag},
    {"volumeType", nullptr, &Meta::volumeType},
    {"iops", &Meta::iops, nullptr},
    {"encrypt", &Meta::encrypt, nullptr},
    {"targetAccessKey", nullptr, &Meta::targetAccessKey},
    {"targetSecretKey", nullptr, &Meta::targetSecretKey},
    {"crossAccountOp", &Meta::crossAccountOp, nullptr},
    {"targetEncryptionKey", nullptr, &Meta::targetEncryptionKey},
    {"outpostsARN", nullptr, &Meta::outpostsARN},
    {"subclientId", &Meta::subclientId, nullptr},
};
static_assert(sizeof kFields / sizeof kFields[0] == SnapTransMeta::kPairCount, "one entry per serialised field");

bool Writable(const std::string& value) {
    if (value.size() > SnapTransMeta::kMaxValue) return false;
    for (unsigned char c : value)
        if (c == ';' || c == ':' || c < 0x20 || c == 0x7f) return false;
    return true;
}

bool ParseNumber(const std::string& text, int32_t& out) {
    if (text.empty() || text.size() > 11) return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno || *end || v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
        return false;
    out = static_cast<int32_t>(v);
    return true;
}
}  // namespace

bool SnapTransMeta::Serialize(const AmazonSnapTransMetaInfo& meta, std::string& out, std::string& error) {
    out.clear();
    std::string text;
    for (const Field& f : kFields) {
        std::string value = f.number ? std::to_string(meta.*f.number) : meta.*f.text;
        if (f.text == &Meta::targetSecretKey && !value.empty() && !FwProtected::IsSealed(value)) {
            std::string sealed;
            if (!FwProtected::Seal(value, sealed)) {
                error = "the secret key cannot be sealed";
                return false;
            }
            value = sealed;
        }
        if (!Writable(value)) {
            error = std::string("the value of ") + f.key + " holds a separator or control character, or is too long";
            return false;
        }
        text += std::string(f.key) + ":" + value + ";";
    }
    out = std::move(text);
    return true;
}

bool SnapTransMeta::Parse(const std::string& text, AmazonSnapTransMetaInfo& meta, std::string& error) {
    if (text.size() > kMaxText) {
        error = "the metadata text is longer than 64 KiB";
        return false;
    }
    if (text.empty() || text.back() != ';') {
        error = "the metadata text does not end with ';'";
        return false;
    }
    AmazonSnapTransMetaInfo read;
    std::set<std::string> seen;
    size_t begin = 0;
    while (begin < text.size()) {
        const size_t end = text.find(';', begin);
        const std::string token = text.substr(begin, end - begin);
        begin = end + 1;
        const size_t colon = token.find(':');
        if (colon == std::string::npos || token.find(':', colon + 1) != std::string::npos) {
            error = "pair [" + token.substr(0, 64) + "] is not key:value";
            return false;
        }
        const std::string key = token.substr(0, colon), value = token.substr(colon + 1);
        const Field* field = nullptr;
        for (const Field& f : kFields)
            if (key == f.key) field = &f;
        if (!field || !seen.insert(key).second) {
            error = "key [" + key.substr(0, 64) + "] is unknown or repeated";
            return false;
        }
        if (value.size() > kMaxValue) {
            error = "the value of " + key + " is too long";
            return false;
        }
        if (field->number && !ParseNumber(value, read.*field->number)) {
            error = "the value of " + key + " is not a 32-bit number";
            return false;
        }
        if (field->text) read.*field->text = value;
    }
    meta = std::move(read);
    return true;
}

std::string SnapTransMeta::KeyArnForMetadata(const std::string& keyArn) {
    std::string value = keyArn;
    std::replace(value.begin(), value.end(), ':', '$');
    return value;
}

std::string SnapTransMeta::KeyArnFromMetadata(const std::string& value) {
    std::string arn = value;
    std::replace(arn.begin(), arn.end(), '$', ':');
    return arn;
}

std::string SnapTransMeta::ForLog(const std::string& text) { return CVMSnapUtil::MaskSecrets(text); }
