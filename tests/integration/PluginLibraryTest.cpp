// The built plug-in as the framework sees it: a library loaded with dlopen
// whose only export is the factory.
#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "framework/VMInfo.h"
#include "support/TestEnv.h"

namespace {

// Names of the symbols a 64-bit ELF shared object defines in its dynamic
// symbol table (the ones another module can bind to).
std::set<std::string> DefinedDynamicSymbols(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (file.size() < sizeof(Elf64_Ehdr)) throw std::runtime_error("not an ELF file: " + path);
    const auto* eh = reinterpret_cast<const Elf64_Ehdr*>(file.data());
    if (std::memcmp(eh->e_ident, ELFMAG, SELFMAG) != 0 || eh->e_ident[EI_CLASS] != ELFCLASS64)
        throw std::runtime_error("not a 64-bit ELF file: " + path);
    const auto* sections = reinterpret_cast<const Elf64_Shdr*>(file.data() + eh->e_shoff);
    std::set<std::string> names;
    for (int i = 0; i < eh->e_shnum; ++i) {
        if (sections[i].sh_type != SHT_DYNSYM) continue;
        const Elf64_Shdr& strtab = sections[sections[i].sh_link];
        const auto* syms = reinterpret_cast<const Elf64_Sym*>(file.data() + sections[i].sh_offset);
        const size_t count = sections[i].sh_size / sizeof(Elf64_Sym);
        for (size_t k = 1; k < count; ++k) {
            const unsigned bind = ELF64_ST_BIND(syms[k].st_info);
            if (syms[k].st_shndx == SHN_UNDEF || bind == STB_LOCAL) continue;
            names.insert(file.data() + strtab.sh_offset + syms[k].st_name);
        }
    }
    return names;
}

}  // namespace

TEST(PluginLibrary, ExportsExactlyTheFactory) {
    const auto names = DefinedDynamicSymbols(AMAZON_PLUGIN_PATH);
    EXPECT_EQ(std::set<std::string>{"CreateAmazonInfoObject"}, names);
}

TEST(PluginLibrary, LoadsWithDlopenAndItsFactoryMakesAWorkingObject) {
    TestEnv env;
    void* handle = dlopen(AMAZON_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, handle) << dlerror();
    using Factory = int (*)(VirtualServerInstanceType, IVMInfo**);
    auto factory = reinterpret_cast<Factory>(dlsym(handle, "CreateAmazonInfoObject"));
    ASSERT_NE(nullptr, factory);

    IVMInfo* object = nullptr;
    ASSERT_EQ(1, factory(301, &object));
    ASSERT_NE(nullptr, object);
    // The plug-in's slots answer through the framework's interface, also
    // with the framework's not-supported error where it has no answer.
    EXPECT_EQ(40, object->GetStreamLimit());
    MountCtx ctx;
    std::vector<VMInfoStructs::SMountInfoFile> files;
    EXPECT_EQ(0, object->GetFileMountInfo(ctx, files));
    EXPECT_EQ(kErrNotSupported, object->GetLastVMError());
    delete object;
    EXPECT_EQ(0, dlclose(handle));
}
