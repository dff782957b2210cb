#include "host/PluginLoader.h"

#include <dlfcn.h>

PluginLoader::~PluginLoader() {
    if (m_handle) dlclose(m_handle);
}

bool PluginLoader::Load(const std::string& path, std::string& why) {
    m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle) {
        const char* e = dlerror();
        why = e ? e : "dlopen failed";
        return false;
    }
    m_factory = reinterpret_cast<Factory>(dlsym(m_handle, "CreateAmazonInfoObject"));
    if (!m_factory) {
        why = "the library exports no CreateAmazonInfoObject";
        return false;
    }
    return true;
}

PluginLoader::ObjectPtr PluginLoader::Create(VirtualServerInstanceType type) {
    IVMInfo* object = nullptr;
    if (!m_factory || !m_factory(type, &object)) return ObjectPtr();
    return ObjectPtr(object);
}
