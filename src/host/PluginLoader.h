#pragma once
// Loads the hypervisor plug-in library with dlopen and creates plug-in
// objects through its exported factory, as the agent's framework does.
#include <memory>
#include <string>

#include "framework/VMInfo.h"

class PluginLoader {
public:
    PluginLoader() = default;
    ~PluginLoader();
    PluginLoader(const PluginLoader&) = delete;
    PluginLoader& operator=(const PluginLoader&) = delete;

    // False with a reason when the library or its factory cannot be found.
    bool Load(const std::string& path, std::string& why);

    struct Deleter {
        void operator()(CVMInfo* p) const { delete p; }
    };
    using ObjectPtr = std::unique_ptr<CVMInfo, Deleter>;
    // Null when the factory refuses.
    ObjectPtr Create(VirtualServerInstanceType type);

private:
    void* m_handle = nullptr;
    using Factory = int (*)(VirtualServerInstanceType, IVMInfo**);
    Factory m_factory = nullptr;
};
