// The built plug-in as the framework sees it: a library loaded with dlopen
// whose only export is the factory, built from folders whose includes point
// one way (down the floors of doc/design.md).
#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
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

// The plug-in's floors: a folder may include its own headers and those of a
// lower floor, never those of its floor's siblings or of a floor above.
// Every subsystem implements members of the one class, so the class header
// factory/AmazonInfo.h is open to all of them (but not to common/).
//
//   floor | folders
//   ------+-----------------------------------
//     4   | factory
//     3   | backup, connect, snap, restore, guest
//     2   | disk, inventory
//     1   | tasks, ebsdirect
//     0   | common
const std::map<std::string, int> kFloors = {
    {"common", 0},  {"tasks", 1},   {"ebsdirect", 1}, {"disk", 2},    {"inventory", 2}, {"backup", 3},
    {"connect", 3}, {"snap", 3},    {"restore", 3},   {"guest", 3},   {"factory", 4},
};
constexpr char kClassHeader[] = "factory/AmazonInfo.h";

// What common/ may include besides the standard library and itself.
bool CommonMayInclude(const std::string& header) {
    return header.rfind("framework/", 0) == 0 || header.rfind("records/", 0) == 0 ||
           header == "bridge/AmazonSDKBridge.h";
}

// "file:line: reason" for every include under srcRoot's plug-in folders that
// goes against the floors.
std::vector<std::string> IncludesAgainstTheFloors(const std::filesystem::path& srcRoot) {
    namespace fs = std::filesystem;
    static const std::regex include(R"re(^\s*#\s*include\s*"([^"]+)")re");
    std::vector<std::string> found;
    for (const auto& [folder, floor] : kFloors) {
        if (!fs::is_directory(srcRoot / folder)) continue;
        for (const auto& entry : fs::recursive_directory_iterator(srcRoot / folder)) {
            if (!entry.is_regular_file()) continue;
            const std::string ext = entry.path().extension().string();
            if (ext != ".h" && ext != ".cpp") continue;
            std::ifstream in(entry.path());
            std::string line;
            for (int number = 1; std::getline(in, line); ++number) {
                std::smatch m;
                if (!std::regex_search(line, m, include)) continue;
                const std::string header = m[1];
                const std::string target = header.substr(0, header.find('/'));
                const std::string where =
                    fs::relative(entry.path(), srcRoot.parent_path()).string() + ":" + std::to_string(number) + ": ";
                if (target == "cloudsim") {
                    found.push_back(where + "the plug-in includes the simulated cloud (" + header + ")");
                } else if (folder == "common") {
                    if (target != "common" && !CommonMayInclude(header))
                        found.push_back(where + "common/ includes " + header +
                                        " (only framework/, records/, bridge/AmazonSDKBridge.h)");
                } else if (target != folder && header != kClassHeader) {
                    const auto other = kFloors.find(target);
                    if (other != kFloors.end() && other->second >= floor)
                        found.push_back(where + folder + " (floor " + std::to_string(floor) + ") includes " + header +
                                        " (floor " + std::to_string(other->second) + ")");
                }
            }
        }
    }
    return found;
}

// "file:line" of every read of a bridge's error text in the plug-in's
// folders but common/, whose BridgeCall.h is the one way to it: a failed call
// logged by hand drifts from the others' texts and forgets the last error.
std::vector<std::string> BridgeErrorsReadByHand(const std::filesystem::path& srcRoot) {
    namespace fs = std::filesystem;
    std::vector<std::string> found;
    for (const auto& [folder, floor] : kFloors) {
        if (folder == "common" || !fs::is_directory(srcRoot / folder)) continue;
        for (const auto& entry : fs::recursive_directory_iterator(srcRoot / folder)) {
            if (!entry.is_regular_file()) continue;
            std::ifstream in(entry.path());
            std::string line;
            for (int number = 1; std::getline(in, line); ++number)
                if (line.find("GetLastErrorString(") != std::string::npos)
                    found.push_back(fs::relative(entry.path(), srcRoot.parent_path()).string() + ":" +
                                    std::to_string(number));
        }
    }
    return found;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    return text;
}

}  // namespace

TEST(PluginLibrary, IncludesPointDownTheFloors) {
    const auto found = IncludesAgainstTheFloors(std::filesystem::path(TEST_SOURCE_DIR) / "src");
    EXPECT_TRUE(found.empty()) << Joined(found);
}

// The check itself, on a tree of one file per case: each include against the
// floors is named with its file and line, and the allowed ones are not.
TEST(PluginLibrary, TheFloorCheckNamesEachIncludeAgainstTheGrain) {
    TestEnv env;
    const std::filesystem::path root = std::filesystem::path(env.BaseDir()) / "tree" / "src";
    struct Case {
        const char* file;
        const char* include;
        bool allowed;
    };
    const Case cases[] = {
        {"disk/A.cpp", "cloudsim/Cloud.h", false},
        {"common/B.h", "tasks/AmazonTaskUtils.h", false},
        {"common/C.h", "factory/AmazonInfo.h", false},
        {"common/D.h", "bridge/BridgeImpl.h", false},
        {"disk/E.cpp", "backup/AmazonStaging.h", false},      // a floor above
        {"disk/F.cpp", "inventory/InventoryNodes.h", false},  // a sibling
        {"tasks/G.cpp", "ebsdirect/AmazonRequestSigner.h", false},
        {"factory/H.cpp", "cloudsim/CloudState.h", false},
        {"common/I.h", "framework/EvDebug.h", true},
        {"common/J.h", "bridge/AmazonSDKBridge.h", true},
        {"common/K.h", "common/ErrorCodes.h", true},
        {"backup/L.cpp", "disk/AmazonDiskInfo.h", true},
        {"tasks/M.cpp", "factory/AmazonInfo.h", true},
        {"factory/N.cpp", "tasks/AmazonTaskUtils.h", true},
        {"inventory/O.cpp", "common/RegionScope.h", true},
    };
    for (const auto& c : cases) {
        std::filesystem::create_directories((root / c.file).parent_path());
        std::ofstream(root / c.file) << "// one include\n#include <string>\n#include \"" << c.include << "\"\n";
    }
    const std::string found = Joined(IncludesAgainstTheFloors(root));
    for (const auto& c : cases) {
        const std::string where = std::string("src/") + c.file + ":3: ";
        EXPECT_EQ(!c.allowed, found.find(where) != std::string::npos) << c.file << " -> " << c.include << "\n" << found;
    }
}

TEST(PluginLibrary, BridgeErrorsAreReadOnlyThroughTheCommonHelpers) {
    const auto found = BridgeErrorsReadByHand(std::filesystem::path(TEST_SOURCE_DIR) / "src");
    EXPECT_TRUE(found.empty()) << "use AmazonCommon::BridgeCall, QuietBridgeCall or BridgeError:\n" << Joined(found);
    // And the check sees one planted, but not common/'s own.
    TestEnv env;
    const std::filesystem::path root = std::filesystem::path(env.BaseDir()) / "tree" / "src";
    std::filesystem::create_directories(root / "guest");
    std::filesystem::create_directories(root / "common");
    std::ofstream(root / "guest" / "P.cpp") << "// planted\nerror = bridge->GetLastErrorString();\n";
    std::ofstream(root / "common" / "Q.h") << "// allowed\nerror = bridge.GetLastErrorString();\n";
    EXPECT_EQ(std::vector<std::string>{"src/guest/P.cpp:2"}, BridgeErrorsReadByHand(root));
}

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
