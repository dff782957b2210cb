#pragma once
// A bridge whose calls are the contract under test. Destruction is counted so
// that tests can see how often an object deleted its bridges.
#include <gmock/gmock.h>

#include <atomic>

#include "bridge/AmazonSDKBridge.h"

class MockBridge : public CAmazonSDKBridge {
public:
    explicit MockBridge(std::atomic<int>* destroyed = nullptr) : m_destroyed(destroyed) {}
    ~MockBridge() override {
        if (m_destroyed) ++*m_destroyed;
    }

    MOCK_METHOD(bool, initialize, (const std::string&, const std::string&, long long), (override));
    MOCK_METHOD(void, SetWebProxy, (const std::string&, const std::string&, const std::string&, int), (override));
    MOCK_METHOD(bool, Connect, (const std::string&, const std::string&, const std::string&), (override));
    MOCK_METHOD(void, Disconnect, (), (override));
    MOCK_METHOD(void, overrideRegion, (const std::string&), (override));
    MOCK_METHOD(std::string, GetLastErrorString, (), (const, override));
    MOCK_METHOD(bool, GetAccountId, (std::string&), (override));
    MOCK_METHOD(bool, GetLocalInstanceId, (std::string&), (override));
    MOCK_METHOD(bool, GetLocalInstanceRegion, (std::string&), (override));
    MOCK_METHOD(bool, GetOutpostsAccountARN, (const std::string&, const std::string&, std::string&), (override));

private:
    std::atomic<int>* m_destroyed;
};
