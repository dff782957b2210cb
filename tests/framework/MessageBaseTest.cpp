// The framework's message class: the string it writes is what a later job
// hands back, so anything but an intact string of the same type is refused.
#include <gtest/gtest.h>

#include "framework/MessageBase.h"

namespace {
const char kType[] = "VirtualServer::VMReferencePointInfo";

CNMessageBase Disk(const std::string& volume, const std::string& snapshot) {
    CNMessageBase disk("VirtualServer::VMReferencePointDiskInfo");
    disk.SetString(1, volume);
    disk.SetString(2, snapshot);
    return disk;
}

std::string Serialized(const CNMessageBase& message) {
    std::string out;
    EXPECT_EQ(CNMessageBase::kOk, message.Serialize(out));
    return out;
}

// Fields left over from an earlier read must not survive a refused one.
int DeserializeOverStale(const std::string& text, CNMessageBase& into) {
    into.SetString(1, "stale");
    into.AddMessage(4, Disk("vol-stale", "snap-stale"));
    return into.Deserialize(text);
}
}  // namespace

TEST(MessageBase, RoundTripKeepsNestedListsInOrder) {
    CNMessageBase info(kType);
    info.SetString(1, "ami-full");
    info.SetString(3, "ami-naïve/ref \"quoted\"");
    info.AddMessage(4, Disk("vol-a", "snap-a"));
    CNMessageBase inner = Disk("vol-b", "");
    inner.AddMessage(7, Disk("vol-deep", "snap-deep"));
    info.AddMessage(4, inner);
    const std::string text = Serialized(info);
    EXPECT_EQ(0u, text.rfind("CNM1:", 0)) << text;

    CNMessageBase back(kType);
    ASSERT_EQ(CNMessageBase::kOk, DeserializeOverStale(text, back));
    EXPECT_EQ("ami-full", back.GetString(1));
    EXPECT_EQ("ami-naïve/ref \"quoted\"", back.GetString(3));
    EXPECT_EQ("", back.GetString(4)) << "a list is not a string";
    const auto disks = back.GetMessages(4);
    ASSERT_EQ(2u, disks.size());
    EXPECT_EQ("VirtualServer::VMReferencePointDiskInfo", disks[1].Type());
    EXPECT_EQ("vol-a", disks[0].GetString(1));
    EXPECT_EQ("snap-a", disks[0].GetString(2));
    EXPECT_EQ("vol-b", disks[1].GetString(1));
    ASSERT_EQ(1u, disks[1].GetMessages(7).size());
    EXPECT_EQ("snap-deep", disks[1].GetMessages(7)[0].GetString(2));
}

TEST(MessageBase, RefusesAnythingButAnIntactStringOfItsType) {
    auto refused = [](const std::string& text, const std::string& what) {
        CNMessageBase info(kType);
        EXPECT_NE(CNMessageBase::kOk, DeserializeOverStale(text, info)) << what << ": " << text;
        EXPECT_EQ("", info.GetString(1)) << what;
        EXPECT_TRUE(info.GetMessages(4).empty()) << what;
    };
    CNMessageBase other("VirtualServer::SomethingElse");
    other.SetString(1, "x");
    refused(Serialized(other), "another type");
    refused("", "empty");
    refused("not a change id at all", "garbage");

    // Payload lengths that end the base64 text in each fill pattern.
    for (const std::string value : {"ami-full", "ami-fullx", "ami-fullxy"}) {
        CNMessageBase info(kType);
        info.SetString(1, value);
        info.AddMessage(4, Disk("vol-1", "snap-1"));
        const std::string good = Serialized(info);
        std::string versionTwo = good;
        versionTwo[3] = '2';
        refused(versionTwo, "another version");
        refused(good.substr(0, good.size() - 4), "truncated");
        refused(good.substr(0, 12), "truncated in the check");
        refused(good.substr(good.rfind(':') + 1), "a bare payload");
        for (size_t i = 0; i < good.size(); ++i) {
            // Mostly the next character: in base64 that flips the lowest bit,
            // which the character before the fill does not all use.
            std::string altered = good;
            const char c = altered[i];
            altered[i] = c == 'z' ? 'a' : c == 'Z' ? 'A' : c == '9' ? '0' : static_cast<char>(c + 1);
            refused(altered, "altered at " + std::to_string(i));
        }
    }
}
