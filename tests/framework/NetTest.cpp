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

// Subnets are carved from a VPC's block; what is already there may be larger,
// smaller or not aligned to the carved size.
TEST(Cidr, FirstFreeBlockSkipsEveryOverlap) {
    auto block = [](const char* text) {
        FwCidr::Block b;
        std::string error;
        EXPECT_TRUE(FwCidr::ParseIPv4Block(text, b, error)) << text << ": " << error;
        return b;
    };
    struct Case { const char* vpc; std::vector<const char*> taken; const char* expected; } cases[] = {
        {"10.0.0.0/16", {}, "10.0.0.0/24"},
        {"10.0.0.77/16", {"10.0.0.0/24"}, "10.0.1.0/24"},                        // host bits of the VPC ignored
        {"10.0.0.0/16", {"10.0.0.0/23", "10.0.2.128/25"}, "10.0.3.0/24"},        // larger and misaligned ones
        {"10.0.0.0/16", {"10.0.1.0/24", "10.0.0.16/28"}, "10.0.2.0/24"},         // a /28 spoils its /24
        {"10.0.0.0/22", {"10.0.0.0/24", "10.0.1.0/24", "10.0.2.0/24", "10.0.3.0/24"}, nullptr},   // full
        {"10.0.0.0/25", {}, nullptr},                                             // smaller than a /24
        {"10.0.255.0/24", {"10.1.0.0/24"}, "10.0.255.0/24"},                      // others' blocks do not count
    };
    for (const auto& c : cases) {
        std::vector<FwCidr::Block> taken;
        for (const char* t : c.taken) taken.push_back(block(t));
        FwCidr::Block free;
        const bool found = FwCidr::FirstFreeIPv4Block(block(c.vpc), taken, 24, free);
        ASSERT_EQ(found, c.expected != nullptr) << c.vpc;
        if (found) {
            EXPECT_EQ(FwCidr::IPv4BlockText(free), c.expected) << c.vpc;
        }
    }
    EXPECT_TRUE(block("10.0.0.0/16").Contains(block("10.0.255.0/24")));
    EXPECT_FALSE(block("10.0.0.0/16").Contains(block("10.1.0.0/24")));
    EXPECT_FALSE(block("10.0.0.0/16").Contains(block("10.0.0.0/15")));
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
