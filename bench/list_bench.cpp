// The device list: one add at a given list size (a linear walk under the
// list lock), and the hand-over from several receive threads at once.
#include <cstdio>
#include <cstring>

#include "BenchMain.h"
#include "DeviceSearchInterface.h"
#include "SearchDeviceHandle/SearchDeviceClient.h"

namespace {

deviceinfo device(int n, const char* maker = "ORVALE") {
    deviceinfo d;
    std::snprintf(d.id, sizeof d.id, "DEV%d", n);
    std::snprintf(d.ip, sizeof d.ip, "10.0.%d.%d", n >> 8, n & 255);
    std::strcpy(d.host, "nas");
    std::strcpy(d.factory, maker);
    d.type = kDeviceAnswer;
    return d;
}

void fill(int size) {
    CDeviceSearchInterface* list = CDeviceSearchInterface::GetInstance();
    list->ClearDeviceList();
    for (int n = 0; n < size; ++n) {
        deviceinfo d = device(n);
        list->AddDeviceInfo(d);
    }
}

// The answer of the most recently listed device: the walk passes every record.
void BM_AddDeviceInfo_RefreshLast(benchmark::State& state) {
    const int size = static_cast<int>(state.range(0));
    fill(size);
    CDeviceSearchInterface* list = CDeviceSearchInterface::GetInstance();
    const deviceinfo last = device(size - 1);
    for (auto _ : state) {
        deviceinfo d = last;  // the front end upper-cases the maker in place
        list->AddDeviceInfo(d);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AddDeviceInfo_RefreshLast)->Arg(10)->Arg(100)->Arg(1000)->Arg(4096);

// A new address on a full list: the whole walk, then the refusal.
void BM_AddDeviceInfo_NewWhenFull(benchmark::State& state) {
    fill(static_cast<int>(CDeviceSearchInterface::kMaxDevices));
    CDeviceSearchInterface* list = CDeviceSearchInterface::GetInstance();
    const deviceinfo stranger = device(60000);
    for (auto _ : state) {
        deviceinfo d = stranger;
        list->AddDeviceInfo(d);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AddDeviceInfo_NewWhenFull);

int countOnly(void*, int) { return 0; }

// Records from several workers funnel through one lock into the front end.
void BM_HandOver(benchmark::State& state) {
    const bool frontEnd = state.range(0) == 1;
    if (state.thread_index() == 0) {
        fill(100);
        CSearchDeviceClient::SetDeviceCallback(frontEnd ? &CDeviceSearchInterface::SearchDeviceRecallHandle
                                                        : &countOnly);
    }
    deviceinfo d = device(state.thread_index() * 20);  // each thread refreshes its own listed device
    for (auto _ : state) CSearchDeviceClient::HandleDeviceMessage(&d, sizeof d, 1530 + state.thread_index());
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(frontEnd ? "into the device list" : "into a counting callback");
}
BENCHMARK(BM_HandOver)->Arg(0)->Arg(1)->Threads(1)->Threads(4)->UseRealTime();

}  // namespace

NASSCOUT_BENCHMARK_MAIN()
