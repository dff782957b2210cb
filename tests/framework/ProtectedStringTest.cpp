// Sealed secrets: only the agent that sealed one opens it, and the sealed
// form gives nothing away and fits inside key/value texts.
#include <gtest/gtest.h>

#include "framework/FileUtils.h"
#include "framework/KDPI.h"
#include "framework/ProtectedString.h"
#include "support/TestEnv.h"

TEST(ProtectedStringTest, OnlyAnUnalteredSealOfThisAgentOpens) {
    TestEnv env;
    const std::string secret = "wJalrXUtnFEMI/K7MDENG/bPxRfiCYEXAMPLEKEY";
    std::string sealed, opened;
    ASSERT_TRUE(FwProtected::Seal(secret, sealed));
    EXPECT_TRUE(FwProtected::IsSealed(sealed));
    EXPECT_EQ(sealed.find(secret), std::string::npos);
    EXPECT_EQ(sealed.find_first_of(";:"), std::string::npos);
    ASSERT_TRUE(FwProtected::Open(sealed, opened));
    EXPECT_EQ(opened, secret);
    std::string again;
    ASSERT_TRUE(FwProtected::Seal(secret, again));
    EXPECT_NE(again, sealed) << "each seal takes a fresh nonce";

    std::string altered = sealed;
    altered[altered.size() - 6] = altered[altered.size() - 6] == 'A' ? 'B' : 'A';
    EXPECT_FALSE(FwProtected::Open(altered, opened));
    EXPECT_TRUE(opened.empty());
    EXPECT_FALSE(FwProtected::Open(sealed.substr(0, sealed.size() / 2), opened));
    EXPECT_FALSE(FwProtected::Open(secret, opened));

    // Another agent (another base folder, another key) cannot open it.
    const std::string otherBase = FwFile::JoinPath(env.BaseDir(), "other-agent");
    FwFile::MakeDirs(otherBase);
    const std::string base = KDPI_Base::getBaseDir();
    KDPI_Base::setBaseDir(otherBase);
    EXPECT_FALSE(FwProtected::Open(sealed, opened));
    KDPI_Base::setBaseDir(base);
    EXPECT_TRUE(FwProtected::Open(sealed, opened));
}
