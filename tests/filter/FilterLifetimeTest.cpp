// The filter's end: a graph released while it runs, and the module unloaded
// once nothing of it is alive.
#include "FilterTest.h"
#include "GraphRig.h"
#include "ModuleSetup.h"

#include "common/KXVDSrcClsid.h"

namespace {

class FilterLifetimeTest : public FilterTest {};

}  // namespace

TEST_F(FilterLifetimeTest, ReleasingARunningGraphNeitherHangsNorCrashes) {
    RecordingPlan plan;
    const std::wstring path = Recording(L"running.kxr", plan);
    CGraphRig rig;
    RigOptions options;
    options.Clock = true;
    ASSERT_EQ(S_OK, rig.Build(path, options));
    ASSERT_TRUE(SUCCEEDED(rig.Control->Run()));
    ASSERT_TRUE(rig.VideoLog.WaitForCount(3, 20000));
    rig.Source.Reset();
    rig.Events.Reset();
    rig.Seeking.Reset();
    rig.Control.Reset();
    rig.Graph.Reset();
    EXPECT_EQ(S_OK, ModuleCanUnloadNow()) << "an object of the module is still alive";
}

TEST_F(FilterLifetimeTest, ModuleUnloadsOnceEverythingIsReleased) {
    RecordingPlan plan;
    plan.DurationMs = 2000;
    const std::wstring path = Recording(L"unload.kxr", plan);
    {
        CGraphRig rig;
        ASSERT_EQ(S_OK, rig.Build(path, RigOptions()));
        ASSERT_TRUE(SUCCEEDED(rig.Control->Run()));
        ASSERT_TRUE(rig.WaitForComplete(60000));
        ASSERT_TRUE(ModuleIsLoaded());
        EXPECT_EQ(S_FALSE, ModuleCanUnloadNow());
    }
    EXPECT_EQ(S_OK, ModuleCanUnloadNow());
    CoFreeUnusedLibrariesEx(0, 0);
    EXPECT_FALSE(ModuleIsLoaded()) << "CoFreeUnusedLibrariesEx left KXVDSrc.ax loaded";
}
