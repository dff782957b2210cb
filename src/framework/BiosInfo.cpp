#include "framework/BiosInfo.h"

#include <cctype>
#include <mutex>

#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/KDPlatformInfo.h"

namespace {

struct Override {
    std::mutex mutex;
    std::optional<FwBiosValues> values;
    bool ok = true;
};

Override& TheOverride() {
    static Override* o = new Override();
    return *o;
}

bool ReadTrimmed(const std::string& folder, const char* name, std::string& out) {
    std::string text;
    if (!FwFile::ReadAll(FwFile::JoinPath(folder, name), text)) return false;
    size_t b = 0;
    size_t e = text.size();
    while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
    out = text.substr(b, e - b);
    return true;
}

}  // namespace

bool FwBios::Read(FwBiosValues& out) {
    {
        Override& o = TheOverride();
        std::lock_guard<std::mutex> lock(o.mutex);
        if (o.values) {
            if (!o.ok) return false;
            out = *o.values;
            return true;
        }
    }
    try {
        std::string folder = "/sys/class/dmi/id";
        KDPlatformInfo().getString("Base", "sDmiFolder", folder);
        FwBiosValues v;
        // Vendor and BIOS version are world-readable wherever DMI exists, so
        // missing ones mean no DMI. The UUID is root-only on most systems:
        // an agent running unprivileged still knows what it runs on.
        if (!ReadTrimmed(folder, "sys_vendor", v.manufacturer) || !ReadTrimmed(folder, "bios_version", v.version)) {
            EvDebug::Error("FwBios", "Cannot read BIOS identity from [%s]", folder.c_str());
            return false;
        }
        ReadTrimmed(folder, "product_name", v.product);
        ReadTrimmed(folder, "product_uuid", v.uuid);
        out = std::move(v);
        return true;
    } catch (...) {
        return false;
    }
}

void FwBios::SetOverride(std::optional<FwBiosValues> values, bool ok) {
    Override& o = TheOverride();
    std::lock_guard<std::mutex> lock(o.mutex);
    // ok=false needs an override to be "set" even without values.
    if (!values && !ok) values = FwBiosValues{};
    o.values = std::move(values);
    o.ok = ok;
}
