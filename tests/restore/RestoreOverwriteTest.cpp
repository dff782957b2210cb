// An instance that already carries the restore name: kept, restored in
// place, or replaced, as the job's options say.
#include <functional>

#include "restore/RestoreFixture.h"

using namespace restore;

TEST_F(RestoreFixture, AnInstanceWithTheRestoreNameIsKeptOrReplacedAsTheJobAsks) {
    using Change = std::function<void(RestoreCtx&)>;
    using Cloud = std::function<void(cloudsim::State&)>;
    const struct Row {
        const char* what;
        Change job;
        Cloud before;
        const char* optimal;
        int result;
        int code;
        bool deleted;
        bool newGuid;
    } rows[] = {
        {"no instance has the name", [](RestoreCtx& c) { c.restoreVMName = "nobody-has-this"; },
         [](cloudsim::State&) {}, "true", 1, 0, false, true},
        {"overwrite off", [](RestoreCtx& c) { c.overwrite = false; }, [](cloudsim::State&) {}, "true", 0, 10, false,
         true},
        {"in place", [](RestoreCtx& c) { c.inPlace = true; }, [](cloudsim::State&) {}, "true", 1, 0, false, false},
        {"in place without the optimal restore", [](RestoreCtx& c) { c.inPlace = true; }, [](cloudsim::State&) {},
         "false", 1, 0, true, true},
        {"in place from another source",
         [](RestoreCtx& c) {
             c.inPlace = true;
             c.sourceGuid = kWeb;
         },
         [](cloudsim::State&) {}, "true", 1, 0, true, true},
        {"in place, a conversion",
         [](RestoreCtx& c) {
             c.inPlace = true;
             c.conversion = true;
         },
         [](cloudsim::State&) {}, "true", 1, 0, true, true},
        {"not in place", [](RestoreCtx&) {}, [](cloudsim::State&) {}, "true", 1, 0, true, true},
        {"two instances have the name", [](RestoreCtx&) {},
         [](cloudsim::State& s) {
             s.instances[kWeb].zone = "us-east-1b";
             s.instances[kWeb].tags["Name"] = "db-server-01";
         },
         "true", 0, 173, false, true},
        {"termination protected", [](RestoreCtx&) {},
         [](cloudsim::State& s) { s.instances[kDb].disableApiTermination = true; }, "true", 0, 245, false, true},
        {"a failback into its own source",
         [](RestoreCtx& c) {
             c.failback = true;
             c.vmGuid = kDb;
         },
         [](cloudsim::State&) {}, "true", 1, 0, false, false},
    };
    for (const auto& row : rows) {
        cloud = env.InstallCloud();
        OnAnEC2Proxy();
        cloud->Write(row.before);
        TestEnv::SetSetting("VirtualServer", "bAWSOptimalRestore", row.optimal);
        auto object = Connected();
        ASSERT_TRUE(object);
        RestoreCtx ctx = Job("us-east-1b");
        ctx.restoreVMName = "db-server-01";
        ctx.sourceGuid = kDb;
        ctx.overwrite = true;
        row.job(ctx);
        object->SetRestoreWithNewVMGuidFlag(ctx);
        EXPECT_EQ(row.result, object->HandleOverwriteOption(ctx, "us-east-1")) << row.what;
        EXPECT_EQ(row.code, object->GetLastVMError()) << row.what;
        EXPECT_EQ(row.deleted, Terminated(kDb)) << row.what;
        EXPECT_EQ(row.newGuid, ctx.newVMGuid) << row.what;
        // A restore into the existing instance has its id as the VM GUID.
        if (!row.newGuid) {
            EXPECT_EQ(kDb, ctx.vmGuid) << row.what;
        }
        EXPECT_FALSE(Terminated(kWeb)) << row.what;
    }
}

TEST_F(RestoreFixture, AFailbackUsesItsSourceOnlyWhereItStillIs) {
    const struct {
        const char* vmGuid;
        const char* zone;
        bool newGuid;
    } rows[] = {{kDb, "us-east-1b", false}, {kDb, "us-east-1a", true}, {"", "us-east-1b", true},
                {"i-0000000000000dead", "us-east-1b", true}};
    auto object = Connected();
    for (const auto& row : rows) {
        RestoreCtx ctx = Job(row.zone);
        ctx.failback = true;
        ctx.vmGuid = row.vmGuid;
        object->SetRestoreWithNewVMGuidFlag(ctx);
        EXPECT_EQ(row.newGuid, ctx.newVMGuid) << row.vmGuid << " in " << row.zone;
    }
}
