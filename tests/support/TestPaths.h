#pragma once
// Where the tests find the source tree and the programs the build made.
// One compiled file knows the absolute paths; every other test object
// names only these calls, so its compiled form is the same in any clone of
// the tree and the compiler cache serves a fresh checkout.

namespace testpaths {
const char* SourceDir();
const char* PluginPath();
const char* HostPath();
const char* CloudsimToolPath();
const char* DemoSeed();
}  // namespace testpaths

#define TEST_SOURCE_DIR (::testpaths::SourceDir())
#define AMAZON_PLUGIN_PATH (::testpaths::PluginPath())
#define AMAZON_HOST_PATH (::testpaths::HostPath())
#define CLOUDSIM_TOOL_PATH (::testpaths::CloudsimToolPath())
#define AMAZON_DEMO_SEED (::testpaths::DemoSeed())
