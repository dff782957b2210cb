#pragma once
// Guest file operations on the demo cloud: guests seeded on a Windows and
// two Linux instances, a plug-in object connected to the source account,
// and views of what run-command did.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include <string>
#include <vector>

#include "cloudsim/CloudState.h"
#include "framework/Clock.h"
#include "framework/FileUtils.h"
#include "support/ConnectedFixture.h"
#include "support/LogTap.h"

namespace guesttest {

constexpr char kLinux[] = "i-0a1b2c3d4e5f60001";     // us-east-1a
constexpr char kWindows[] = "i-0a1b2c3d4e5f60003";   // us-east-1c
constexpr char kWest[] = "i-0a1b2c3d4e5f60004";      // us-west-2a
constexpr char kDefaultBucket[] = "qx-restore-111122223333";
constexpr char kNasty[] = "it's'; Remove-Item -Recurse 'C:\\";

struct GuestFixture : ConnectedFixture {
    LogTap log;

    void SetUp() override {
        cloud->Write([](cloudsim::State& s) {
            cloudsim::Guest win;
            win.instanceId = kWindows;
            win.files = {{"C:\\Windows\\system32\\cmd.exe", false, "MZ", 100},
                         {"C:\\data\\plain.txt", false, "hello", 1700000000},
                         {"C:\\data\\a,b.txt", false, "x", 1700000001},
                         {"C:\\data\\sub", true, "", 1700000002},
                         {"D:\\backup\\old.bak", false, "old", 5}};
            s.guests[kWindows] = win;
            // The demo seed keeps it stopped; run-command reaches running instances only.
            s.instances.at(kWindows).state = "running";
            cloudsim::Guest lin;
            lin.instanceId = kLinux;
            lin.files = {{"/home/ec2-user/notes.txt", false, "notes", 42}};
            s.guests[kLinux] = lin;
            lin.instanceId = kWest;
            s.guests[kWest] = lin;
        });
        ConnectObject();
    }

    static GuestCtx Ctx(const std::string& instance, const std::string& zone) {
        GuestCtx ctx;
        ctx.vm.guid = instance;
        ctx.vm.zone = zone;
        ctx.vm.name = "guest-under-test";
        return ctx;
    }
    static GuestCtx Windows() { return Ctx(kWindows, "us-east-1c"); }
    static GuestCtx Linux() { return Ctx(kLinux, "us-east-1a"); }

    void ChangeGuest(const std::string& id, const std::function<void(cloudsim::Guest&)>& f) {
        cloud->Write([&](cloudsim::State& s) { f(s.guests.at(id)); });
    }
    // Every command sent, in the order sent.
    std::vector<cloudsim::Command> Commands() {
        return Peek([](const cloudsim::State& s) {
            std::vector<cloudsim::Command> out;
            for (const auto& [id, c] : s.commands) out.push_back(c);
            std::stable_sort(out.begin(), out.end(),
                             [](const auto& a, const auto& b) { return a.sentAtMs < b.sentAtMs; });
            return out;
        });
    }
    std::vector<std::string> Scripts() {
        std::vector<std::string> out;
        for (const auto& c : Commands()) out.push_back(c.script);
        return out;
    }
    // The guest file's bytes; "<none>" when the guest has no such file.
    std::string GuestFile(const std::string& id, const std::string& path) {
        return Peek([&](const cloudsim::State& s) {
            for (const auto& f : s.guests.at(id).files)
                if (f.path == path) return f.data;
            return std::string("<none>");
        });
    }
    std::vector<std::string> Keys(const std::string& bucket) {
        return Peek([&](const cloudsim::State& s) {
            std::vector<std::string> keys;
            for (const auto& o : s.objects)
                if (o.bucket == bucket) keys.push_back(o.key);
            return keys;
        });
    }
    std::string LocalFile(const std::string& name, const std::string& bytes) {
        std::string path = env.BaseDir() + "/" + name;
        EXPECT_TRUE(FwFile::WriteAllAtomic(path, bytes));
        return path;
    }
    static std::vector<std::string> Names(const std::vector<VMInfoStructs::SGuestFile>& files) {
        std::vector<std::string> names;
        for (const auto& f : files) names.push_back(f.name);
        return names;
    }
};

}  // namespace guesttest
