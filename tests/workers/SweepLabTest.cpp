// A sweep through the engine's interface, as a window drives it: started
// without blocking, readable while it runs, cancelled by a new sweep, by a
// cancel and by the engine's exit. Inside the lab's namespaces only.
#include <gtest/gtest.h>

#include "DeviceSearchInterface.h"
#include "SearchDeviceBroadcastThread.h"
#include "SearchDeviceClient.h"
#include "SearchDeviceMulticastThread.h"

namespace {

CSearchTargetList Targets(const char* text) {
    CSearchTargetList list;
    SearchTargetError error;
    EXPECT_TRUE(ParseSearchTargets(text, list, error)) << error.Describe();
    return list;
}

TEST(Sweep, RunsAloneUntilANewSweepACancelOrTheExitStopsIt) {
    CDeviceSearchInterface* engine = CDeviceSearchInterface::GetInstance();
    EXPECT_EQ(engine->SweepSearchTargets(), -1) << "no engine yet";
    // The real workers, also kept here: the registry is destroyed at exit,
    // and workers are never deleted.
    static auto* kept = new std::vector<CSearchDeviceThread*>;
    CSearchDeviceClient::SetWorkerFactory([](SearchWorkerStatus::Kind kind) -> CSearchDeviceThread* {
        if (kind == SearchWorkerStatus::Kind::Broadcast) return kept->emplace_back(new CSearchDeviceBroadcastThread);
        return kept->emplace_back(new CSearchDeviceMulticastThread);
    });
    engine->DeviceSearchDllInit(nullptr, false, nullptr, false);
    EXPECT_EQ(engine->SweepSearchTargets(), 1) << "no targets yet";
    EXPECT_EQ(engine->SetSearchTargets(Targets("198.18.10.0/24"), 0), -1);

    // 508 datagrams at 2 per second: it runs for minutes unless stopped.
    ASSERT_EQ(engine->SetSearchTargets(Targets("198.18.10.0/24"), 2), 0);
    ASSERT_EQ(engine->SweepSearchTargets(), 0);
    EXPECT_FALSE(engine->WaitSweep(50));
    sweepprogress p = engine->GetSweepProgress();
    EXPECT_EQ(p.state, SEARCH_SWEEP_RUNNING);
    EXPECT_EQ(p.total, 254u);
    EXPECT_EQ(p.rate, 2);
    EXPECT_GT(p.remaining, 200.0);
    ASSERT_EQ(engine->SweepSearchTargets(), 0);
    EXPECT_EQ(engine->GetSweepProgress().number, p.number + 1);
    engine->CancelSweep();
    p = engine->GetSweepProgress();
    EXPECT_EQ(p.state, SEARCH_SWEEP_CANCELLED);
    EXPECT_LT(p.done, p.total);
    EXPECT_TRUE(engine->WaitSweep(0));

    ASSERT_EQ(engine->SetSearchTargets(Targets("198.18.10.77,198.18.10.78"), kSearchRateMax), 0);
    ASSERT_EQ(engine->SweepSearchTargets(), 0);
    EXPECT_TRUE(engine->WaitSweep(-1));
    p = engine->GetSweepProgress();
    EXPECT_EQ(p.state, SEARCH_SWEEP_FINISHED);
    EXPECT_EQ(p.done, 2u);
    EXPECT_EQ(p.sent + p.failed, 4u);

    ASSERT_EQ(engine->SetSearchTargets(Targets("198.18.10.0/24"), 2), 0);
    ASSERT_EQ(engine->SweepSearchTargets(), 0);
    engine->DeviceSearchDllExit();
    EXPECT_EQ(engine->GetSweepProgress().state, SEARCH_SWEEP_CANCELLED);
    EXPECT_EQ(engine->SweepSearchTargets(), -1) << "no sweep after the exit";
}

}  // namespace
