#pragma once
// A fixture that installs the demo seed's simulated cloud, connects plug-in
// objects to it as the host would, and reads back what the cloud holds. Only
// test programs that link the plug-in's objects may use it.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "cloudsim/Cloud.h"
#include "factory/AmazonInfo.h"
#include "support/DemoAccounts.h"
#include "support/TestEnv.h"

// Which of the demo accounts a connect names.
enum class Accounts {
    Source,           // the source account's keys alone
    SourceAndAdmin,   // the source's, with the admin account as the proxy's own
    Admin,            // the admin account's keys alone: the proxy's account holds the instance
};

// The admin account as the host hands it over beside the source keys.
SHostCredentials DemoAdmin(const std::string& region = demo::kRegion);

// Connects object to the process cloud; Connect's result.
int ConnectDemo(CAmazonInfo& object, Accounts accounts = Accounts::Source,
                const std::string& region = demo::kRegion);

// The demo cloud installed for the test, and what it holds.
class DemoCloudFixture : public ::testing::Test {
protected:
    TestEnv env;
    std::shared_ptr<cloudsim::Cloud> cloud = env.InstallCloud();

    // A new object on the given bridges (the real ones by default), connected;
    // null when the connect fails.
    static std::unique_ptr<CAmazonInfo> Connected(Accounts accounts = Accounts::Source,
                                                  CAmazonInfo::BridgeFactory bridges = {});
    // The machine the agent runs on reads as an EC2 instance.
    static void OnAnEC2Proxy();

    // What f computes from the cloud's state as it is now.
    template <class F>
    auto Peek(F f) {
        std::invoke_result_t<F, const cloudsim::State&> out{};
        cloud->Read([&](const cloudsim::State& s) { out = f(s); });
        return out;
    }
    // Copies of the cloud's records; an empty id when there is none.
    cloudsim::Volume Volume(const std::string& id);
    cloudsim::Snapshot Snapshot(const std::string& id);
    cloudsim::Image Image(const std::string& id);
    cloudsim::Instance Instance(const std::string& id);
    // Whether the AMI is there and not deregistered.
    bool ImageLives(const std::string& id);
    // The AMIs made from the instance that are not deregistered.
    std::vector<std::string> LiveImagesOf(const std::string& instance);
    // The value of the instance's tag; "<none>" when it has no such tag.
    std::string InstanceTag(const std::string& instance, const std::string& key);
};

// The same with one plug-in object of the test's own, connected by SetUp of
// the fixture that derives from this one (or by the test).
class ConnectedFixture : public DemoCloudFixture {
protected:
    CAmazonInfo object{kAmazonInstanceType};

    // Connects object; a test failure when the connect fails.
    void ConnectObject(Accounts accounts = Accounts::Source) {
        ASSERT_EQ(1, ConnectDemo(object, accounts)) << object.GetLastVMErrorDetails();
    }
};
