#pragma once
// BIOS identity of the machine the agent runs on, read from the DMI folder
// (setting "Base" / sDmiFolder, default /sys/class/dmi/id): manufacturer from
// sys_vendor, product from product_name, UUID from product_uuid, version from
// bios_version. Tests may install an override instead.
#include <optional>
#include <string>

#include "framework/FrameworkApi.h"

struct FwBiosValues {
    std::string manufacturer;
    std::string product;
    std::string uuid;
    std::string version;
};

class FW_API FwBios {
public:
    static bool Read(FwBiosValues& out);
    // An override with ok=false makes Read fail, as on a machine without DMI.
    static void SetOverride(std::optional<FwBiosValues> values, bool ok = true);
};
