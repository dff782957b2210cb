// The simulated guest's PowerShell: quoting, statements, unknown commands.
#include <gtest/gtest.h>

#include "cloudsim/Cloud.h"
#include "cloudsim/CloudState.h"
#include "cloudsim/GuestShell.h"

namespace {

cloudsim::State WindowsGuest() {
    cloudsim::State s;
    cloudsim::Instance inst;
    inst.id = "i-1";
    inst.platform = "windows";
    s.instances[inst.id] = inst;
    cloudsim::Guest g;
    g.instanceId = inst.id;
    g.files = {{"C:\\Windows\\win.ini", false, "ini", 1}, {"C:\\data\\a.txt", false, "a", 2}};
    s.guests[inst.id] = g;
    return s;
}

size_t FileCount(const cloudsim::State& s) { return s.guests.at("i-1").files.size(); }

}  // namespace

TEST(GuestShell, AQuoteThatEndsAStringLetsTheRestRun) {
    // What a client that pastes a name between quotes would send: the
    // guest runs the Remove-Item, so the quoting tests elsewhere have teeth.
    cloudsim::State s = WindowsGuest();
    auto r = cloudsim::RunGuestScript(s, "i-1", "echo 'x'; Remove-Item -Recurse 'C:\\'", true, 0);
    EXPECT_EQ(0u, FileCount(s)) << r.err;
}

TEST(GuestShell, DoubledQuotesStandForOneAndKeepTheStringWhole) {
    cloudsim::State s = WindowsGuest();
    auto r = cloudsim::RunGuestScript(s, "i-1", "echo 'it''s''; Remove-Item -Recurse ''C:\\'", true, 0);
    EXPECT_EQ("it's'; Remove-Item -Recurse 'C:\\\r\n", r.out);
    EXPECT_EQ(0, r.exitCode);
    EXPECT_EQ(2u, FileCount(s));
}

TEST(GuestShell, AnUnterminatedStringRunsNothing) {
    cloudsim::State s = WindowsGuest();
    auto r = cloudsim::RunGuestScript(s, "i-1", "Remove-Item -Recurse 'C:\\'\necho 'open", true, 0);
    EXPECT_EQ(2u, FileCount(s));
    EXPECT_NE(0, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find("missing the terminator"));
}

TEST(GuestShell, UnknownCommandsFailAsPowershellDoes) {
    cloudsim::State s = WindowsGuest();
    auto r = cloudsim::RunGuestScript(s, "i-1", "Format-Disk C; echo done", true, 0);
    EXPECT_NE(std::string::npos, r.err.find("The term 'Format-Disk' is not recognized as the name of a cmdlet"));
    EXPECT_EQ("done\r\n", r.out);
    EXPECT_EQ(1, r.exitCode);
}

TEST(GuestShell, RemovingAFolderWithChildrenNeedsRecurse) {
    cloudsim::State s = WindowsGuest();
    auto r = cloudsim::RunGuestScript(s, "i-1", "Remove-Item -LiteralPath 'C:\\data'", true, 0);
    EXPECT_EQ(2u, FileCount(s));
    EXPECT_EQ(1, r.exitCode);
    r = cloudsim::RunGuestScript(s, "i-1", "Remove-Item -Recurse -LiteralPath 'C:\\data'", true, 0);
    EXPECT_EQ(1u, FileCount(s));
    EXPECT_EQ(0, r.exitCode);
}

TEST(GuestShell, GuestFilesKeepTheirBytesThroughJson) {
    cloudsim::Guest g;
    g.instanceId = "i-1";
    g.files = {{"C:\\bin.dat", false, std::string("\0\xff", 2), 3}, {"C:\\t.txt", false, "plain", 4}};
    auto back = cloudsim::GuestTable().Read(cloudsim::GuestTable().Write(g), "guest");
    ASSERT_EQ(2u, back.files.size());
    EXPECT_EQ(std::string("\0\xff", 2), back.files[0].data);
    EXPECT_EQ("plain", back.files[1].data);
    EXPECT_EQ(3, back.files[0].modifiedSec);
}
