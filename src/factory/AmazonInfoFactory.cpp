// The library's one exported entry point.
#include <new>

#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"

extern "C" __attribute__((visibility("default"))) int CreateAmazonInfoObject(VirtualServerInstanceType type,
                                                                             IVMInfo** out) {
    if (!out) return 0;
    *out = nullptr;
    try {
        EvDebug::DebugLvl(__PRETTY_FUNCTION__, 2, "Creating AmazonInfo object");
        *out = new (std::nothrow) CAmazonInfo(type);
    } catch (...) {
        // A member that cannot be built (allocation, a broken settings file)
        // must not unwind into the framework.
        *out = nullptr;
    }
    return *out ? 1 : 0;
}
