#include <gtest/gtest.h>

#include <vector>

#include "framework/Base64.h"
#include "framework/Hashing.h"
#include "framework/ZeroBytes.h"

namespace {
std::string Repeat(char c, size_t n) { return std::string(n, c); }
std::string Unhex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}
}  // namespace

// The scan that stands in for hashing a block of zeros: one non-zero byte
// anywhere is found, whether in the 64-byte steps or the tail after them,
// and from a start on no word boundary.
TEST(ZeroBytes, OneNonZeroByteAnywhereIsFound) {
    constexpr size_t kBlock = 512 * 1024;
    std::vector<unsigned char> block(kBlock + 8);
    EXPECT_TRUE(FwBytes::IsAllZero(block.data(), kBlock));
    EXPECT_TRUE(FwBytes::IsAllZero(block.data(), 0));
    const struct {
        size_t start;
        size_t length;
        size_t nonZeroAt;   // from start
    } rows[] = {{0, kBlock, 0},   {0, kBlock, 63},         {0, kBlock, 64}, {0, kBlock, 300001},
                {0, kBlock, kBlock - 1}, {0, 100, 99}, {0, 63, 62},     {0, 1, 0},
                {3, kBlock, kBlock - 1}, {5, 200, 130}, {7, 71, 70}};
    for (const auto& row : rows) {
        const unsigned char* at = block.data() + row.start;
        block[row.start + row.nonZeroAt] = 0x80;
        EXPECT_FALSE(FwBytes::IsAllZero(at, row.length)) << row.start << " " << row.length << " " << row.nonZeroAt;
        EXPECT_TRUE(FwBytes::IsAllZero(at, row.nonZeroAt)) << "bytes before " << row.nonZeroAt;
        block[row.start + row.nonZeroAt] = 0;
    }
}

TEST(Hashing, Sha256KnownVectors) {
    EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", KdcSHA256::HexDigest("abc"));
    // The empty-payload hash that request signing uses for bodiless requests.
    EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", KdcSHA256::HexDigest(""));
    EXPECT_EQ("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1",
              KdcSHA256::HexDigest("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"));
    std::string raw = KdcSHA256::Digest("abc");
    ASSERT_EQ(KdcSHA256::kDigestSize, raw.size());
    EXPECT_EQ(Unhex("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"), raw);
    std::string withNul("a\0b", 3);
    EXPECT_NE(KdcSHA256::Digest("a"), KdcSHA256::Digest(withNul)) << "embedded NUL bytes are hashed";
}

// RFC 4231 test cases 1, 2, 3, 4, 6 and 7 (case 5 is a truncated MAC).
TEST(Hashing, HmacSha256Rfc4231) {
    struct Case { std::string key, data, mac; } cases[] = {
        {Repeat('\x0b', 20), "Hi There", "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {"Jefe", "what do ya want for nothing?", "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {Repeat('\xaa', 20), Repeat('\xdd', 50), "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
        {Unhex("0102030405060708090a0b0c0d0e0f10111213141516171819"), Repeat('\xcd', 50),
         "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
        {Repeat('\xaa', 131), "Test Using Larger Than Block-Size Key - Hash Key First",
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {Repeat('\xaa', 131),
         "This is a test using a larger than block-size key and a larger than block-size data. The key needs to be "
         "hashed before being used by the HMAC algorithm.",
         "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
    };
    for (const auto& c : cases) {
        std::string mac = KdcHash::HmacSHA256(c.key, c.data);
        EXPECT_EQ(32u, mac.size());
        EXPECT_EQ(c.mac, KdcHash::HexEncode(mac)) << c.data;
    }
}

TEST(Hashing, HexEncodesEveryByteLowerCase) {
    EXPECT_EQ("00ff7f80abcd", KdcHash::HexEncode(std::string("\x00\xff\x7f\x80\xab\xcd", 6)));
    EXPECT_EQ("", KdcHash::HexEncode(""));
}

TEST(Base64, EncodesWithPlusSlashAndFill) {
    std::string out;
    struct Case { std::string raw, text; } cases[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"},
        {std::string("\xfb\xff\xbf", 3), "+/+/"}, {std::string("\x00\x00", 2), "AAA="},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(KdcBase64::Encode(c.raw, out));
        EXPECT_EQ(c.text, out);
        std::string back;
        ASSERT_TRUE(KdcBase64::Decode(c.text, back)) << c.text;
        EXPECT_EQ(c.raw, back) << c.text;
    }
    // A body checksum: base64 of a raw SHA-256, round trip on all byte values.
    std::string all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
    std::string text, back;
    ASSERT_TRUE(KdcBase64::Encode(all, text));
    EXPECT_EQ(344u, text.size());
    ASSERT_TRUE(KdcBase64::Decode(text, back));
    EXPECT_EQ(all, back);
}

TEST(Base64, RefusesMalformedText) {
    std::string out = "keep";
    for (const char* bad : {"Zg=", "Zg", "Z===", "Zm9v!A==", " Zm9", "Zg==Zm9v", "Zm-_", "Zm9\n"}) {
        EXPECT_FALSE(KdcBase64::Decode(bad, out)) << bad;
        EXPECT_TRUE(out.empty()) << bad;
    }
}
