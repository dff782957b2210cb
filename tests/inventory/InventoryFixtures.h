#pragma once
// Fixtures of the inventory tests: a plug-in object connected to the demo
// account of the simulated cloud, and one whose bridge is a mock for the
// cases where the bridge call itself is what is checked.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "factory/AmazonInfo.h"
#include "framework/Clock.h"
#include "support/ConnectedFixture.h"
#include "support/LogTap.h"
#include "support/MockBridge.h"
#include "support/TestEnv.h"

namespace inventorytest {

const std::string kSep = "#$vm-+=";   // joins the parts of tag and instance-type GUIDs
const std::string kThrottled = "RequestLimitExceeded: Request limit exceeded.";
const std::string kWeb = "i-0a1b2c3d4e5f60001";   // web-server-01, us-east-1a

struct CloudFixture : ConnectedFixture {
    LogTap log;

    void SetUp() override { ConnectObject(); }
};

// The bridge calls the inventory and VM operations make, mocked on top of
// the shared mock.
class OperationsMockBridge : public MockBridge {
public:
    MOCK_METHOD(int, GetVMInfoForVM,
                (const std::string&, const std::string&, const std::string&, const std::string&, ULONGLONG, int,
                 VMInfoStructs::SVMInfo&),
                (override));
    MOCK_METHOD(int, GetDCInfoForDC, (const std::string&, ULONGLONG, int, VMInfoStructs::SDataCenterInfo&),
                (override));
    MOCK_METHOD(bool, PowerOnVM, (const std::string&, const std::string&, const std::string&), (override));
    MOCK_METHOD(bool, CreateSnapshot,
                (const std::string&, const std::string&, const std::string&, std::string&, bool), (override));
    MOCK_METHOD(bool, DeleteSnapshot, (const std::string&, const std::string&), (override));
    MOCK_METHOD(bool, GetTag, (const std::string&, const std::string&, std::string&), (override));
    MOCK_METHOD(bool, DeleteTag, (const std::string&, const std::string&, const std::string&, bool), (override));
    MOCK_METHOD(bool, DeleteAMISnapshot, (const std::string&, bool), (override));
};

struct MockFixture : ::testing::Test {
    TestEnv env;
    ::testing::NiceMock<OperationsMockBridge>* bridge = nullptr;
    std::unique_ptr<CAmazonInfo> object = std::make_unique<CAmazonInfo>(kAmazonInstanceType, [this] {
        auto b = std::make_unique<::testing::NiceMock<OperationsMockBridge>>();
        bridge = b.get();
        return b;
    });
    LogTap log;
};

}  // namespace inventorytest
