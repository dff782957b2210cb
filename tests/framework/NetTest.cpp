#include <gtest/gtest.h>

#include "framework/Cidr.h"
#include "framework/HostResolver.h"
#include "support/TestEnv.h"

TEST(Cidr, MembershipAtBlockEdges) {
    struct Case { const char* ip; const char* block; bool in; } cases[] = {
        {"10.1.2.3", "10.0.0.0/8", true},       {"11.0.0.0", "10.0.0.0/8", false},
        {"9.255.255.255", "10.0.0.0/8", false}, {"52.94.133.131", "52.94.132.0/22", true},
        {"52.94.136.0", "52.94.132.0/22", false}, {"52.94.135.255", "52.94.132.0/22", true},
        {"1.2.3.4", "1.2.3.4/32", true},        {"1.2.3.5", "1.2.3.4/32", false},
        {"200.1.1.1", "0.0.0.0/0", true},       {"10.1.2.3", "10.1.2.99/24", true},  // host bits ignored
        {"128.0.0.0", "0.0.0.0/1", false},      {"127.255.255.255", "0.0.0.0/1", true},
    };
    for (const auto& c : cases) {
        bool in = !c.in;
        std::string error;
        ASSERT_TRUE(FwCidr::IsIPv4InBlock(c.ip, c.block, in, error)) << c.ip << " " << c.block << ": " << error;
        EXPECT_EQ(c.in, in) << c.ip << " in " << c.block;
    }
}

TEST(Cidr, MalformedInputFailsWithReason) {
    struct Case { const char* ip; const char* block; } cases[] = {
        {"10.1.2", "10.0.0.0/8"},   {"10.1.2.256", "10.0.0.0/8"}, {"", "10.0.0.0/8"},
        {"10.1.2.3", "10.0.0.0"},   {"10.1.2.3", "10.0.0.0/33"}, {"10.1.2.3", "10.0.0.0/"},
        {"10.1.2.3", "10.0.0.0/-1"}, {"10.1.2.3", "10.0.0.0/8x"}, {"::1", "::/0"},
        {"10.1.2.3", "2600:1f18::/32"}, {"10.1.2.3", "10.0.0.0/008"},
    };
    for (const auto& c : cases) {
        bool in = true;
        std::string error;
        EXPECT_FALSE(FwCidr::IsIPv4InBlock(c.ip, c.block, in, error)) << c.ip << " " << c.block;
        EXPECT_FALSE(in);
        EXPECT_FALSE(error.empty());
    }
}

TEST(HostResolver, ResolvesNamesAndLiteralsFailsOnEmpty) {
    std::vector<std::string> addrs;
    std::string error, first;
    ASSERT_TRUE(FwHostResolver::ResolveIPv4("localhost", addrs, error)) << error;
    EXPECT_NE(addrs.end(), std::find(addrs.begin(), addrs.end(), "127.0.0.1"));
    for (const auto& a : addrs) EXPECT_EQ(std::string::npos, a.find(':')) << "IPv4 only: " << a;
    ASSERT_TRUE(FwHostResolver::ResolveIPv4("10.20.30.40", addrs, error));
    EXPECT_EQ(std::vector<std::string>{"10.20.30.40"}, addrs);
    ASSERT_TRUE(FwHostResolver::ResolveFirst("::1", first, error)) << error;
    EXPECT_EQ("::1", first) << "an IPv6 result is reported as such for the caller to refuse";
    EXPECT_FALSE(FwHostResolver::ResolveIPv4("", addrs, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(FwHostResolver::ResolveIPv4("::1", addrs, error)) << "an IPv6 literal has no IPv4 address";
}

TEST(HostResolver, TheAgentsHostTableAnswersFirstByFamily) {
    TestEnv env;
    TestEnv::SetSetting("Base", "sHostAddresses",
                        "ebs.example.test=10.1.2.3,ebs.example.test=10.1.2.4,v6.example.test=2001:db8::7");
    std::vector<std::string> addrs;
    std::string error, first;
    ASSERT_TRUE(FwHostResolver::ResolveIPv4("ebs.example.test", addrs, error)) << error;
    EXPECT_EQ((std::vector<std::string>{"10.1.2.3", "10.1.2.4"}), addrs);
    ASSERT_TRUE(FwHostResolver::ResolveFirst("v6.example.test", first, error)) << error;
    EXPECT_EQ("2001:db8::7", first);
    // Neither the table's IPv6 entry nor the system resolver (".test" is
    // reserved) gives an IPv4 address.
    EXPECT_FALSE(FwHostResolver::ResolveIPv4("v6.example.test", addrs, error));
    EXPECT_FALSE(FwHostResolver::ResolveIPv4("example.example.test", addrs, error));
}
