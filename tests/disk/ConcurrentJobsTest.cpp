// Plug-in objects in one process, each running a whole direct-read backup
// job at the same time, as the framework runs jobs of several instances on
// one proxy, on both read paths. Every job reads exactly its snapshots'
// bytes and nothing is left behind. Also run under ThreadSanitizer.
#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "backup/MountFixture.h"
#include "disk/ReadPath.h"
#include "framework/FileUtils.h"

using namespace mount;

namespace {
constexpr int64_t kChunk = 512 * 1024;

// Mount, read every disk in chunks on two threads, close, unmount; the
// number of chunks that differed from the cloud's snapshot, or -1 when a
// step failed.
int RunJob(CAmazonInfo& object, MountCtx& ctx, cloudsim::Cloud& cloud) {
    if (!object.MountVM(ctx)) return -1;
    int wrong = 0;
    for (const auto& disk : ctx.vm.disks) {
        VmdkHandle handle;
        if (!object.OpenVmdk(ctx.vm.name, ctx.vm.guid, disk.volumeId, handle)) return -1;
        std::atomic<int> bad{0};
        auto reader = [&](int first) {
            std::string buffer(kChunk, '\0');
            for (int64_t chunk = first; chunk < 8; chunk += 2) {
                if (object.ReadVmdk(handle, chunk * kChunk / 512, kChunk / 512, &buffer[0]) != 0 ||
                    buffer != cloud.ReadSnapshot(disk.snapshotId, chunk * kChunk, kChunk))
                    ++bad;
            }
        };
        std::thread a(reader, 0), b(reader, 1);
        a.join();
        b.join();
        wrong += bad;
        if (!object.CloseVmdk(handle)) return -1;
    }
    return object.UnmountVM(ctx) ? wrong : -1;
}
}  // namespace

struct ConcurrentJobs : MountFixture, ::testing::WithParamInterface<ReadPath> {};

// Eight objects at once: four jobs of the web server, two of the stopped
// Windows instance and two of the analytics one, two disks in another
// region. Each instance gets at least one good backup; a job its instance's backup AMI
// limit turns away says so; no job reads a wrong byte (as it would from an
// AMI another job took away), and nothing is left once all are done.
TEST_P(ConcurrentJobs, EightObjectsSeveralJobsOfEachInstanceAtOnce) {
    ReadPathServer path(GetParam(), cloud, env.BaseDir());
    const std::vector<std::string> instances = {kWeb, kWin, kAnalytics, kWeb};
    std::vector<std::unique_ptr<CAmazonInfo>> objects;
    std::vector<MountCtx> jobs;
    for (int i = 0; i < 8; ++i) {
        objects.push_back(Connected());
        ASSERT_TRUE(objects.back());
        jobs.push_back(Job(instances[i % 4], "EBS-DIRECT-API"));
        jobs.back().mountPath = env.BaseDir() + "/mount-" + std::to_string(i);
    }
    std::vector<int> results(8, -2);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) threads.emplace_back([&, i] { results[i] = RunJob(*objects[i], jobs[i], *cloud); });
    for (auto& t : threads) t.join();
    std::map<std::string, int> good;
    for (int i = 0; i < 8; ++i) {
        const std::string why = objects[i]->GetLastVMErrorDetails();
        if (results[i] == 0) ++good[instances[i % 4]];
        else
            EXPECT_TRUE(results[i] == -1 && why.find("existing backup snapshots") != std::string::npos)
                << instances[i % 4] << ": " << results[i] << " " << why;
    }
    for (const auto& instance : {kWeb, kWin, kAnalytics}) EXPECT_GE(good[instance], 1) << instance;
    EXPECT_EQ(2u, jobs[2].vm.disks.size());
    if (GetParam() == ReadPath::Rest) {
        EXPECT_GT(path.BlockCalls(), 0) << "the endpoints served none of it";
    }
    for (const auto& instance : {kWeb, kWin, kAnalytics}) EXPECT_EQ(std::vector<std::string>{}, LiveImagesOf(instance)) << instance;
}

INSTANTIATE_TEST_SUITE_P(BothPaths, ConcurrentJobs, ::testing::Values(ReadPath::Rest, ReadPath::Bridge),
                         ReadPathName);
