#include "support/TestPaths.h"

namespace testpaths {
const char* SourceDir() { return TESTPATHS_SOURCE_DIR; }
const char* PluginPath() { return TESTPATHS_PLUGIN; }
const char* HostPath() { return TESTPATHS_HOST; }
const char* CloudsimToolPath() { return TESTPATHS_CLOUDSIM_TOOL; }
const char* DemoSeed() { return TESTPATHS_SOURCE_DIR "/demo/seed.json"; }
}  // namespace testpaths
