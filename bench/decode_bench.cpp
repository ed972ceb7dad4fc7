// Time per decoded datagram, hand-over included (to a callback that only
// counts), on workers that never open a socket.
#include <cstring>
#include <string>

#include "BenchMain.h"
#include "SearchDeviceHandle/SearchDeviceClient.h"
#include "SearchDeviceThread/SearchDeviceBroadcastThread.h"
#include "SearchDeviceThread/SearchDeviceMulticastThread.h"

namespace {

long g_handed = 0;
int countOnly(void*, int) {
    ++g_handed;
    return 0;
}

// Two answers that differ, so that neither is dropped as a repeat.
struct Datagrams {
    char a[1025] = {}, b[1025] = {};
    int lenA = 0, lenB = 0;
};

Datagrams ssdpAnswers() {
    Datagrams d;
    for (int i = 0; i < 2; ++i) {
        std::string text = std::string("HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=1800\r\n") +
                           "LOCATION: http://198.51.100." + std::to_string(10 + i) + ":5000/desc.xml\r\n" +
                           "SERVER: Linux/5.10 RUZO/2.1.7, UPnP/1.0, ORVALE/nas-office/DS-220/rack\r\n" +
                           "ST: urn:schemas-upnp-org:device:LarkvatDevice:1\r\n" + "USN: uuid:0A1B2C3D4E0" +
                           std::to_string(i) + "::urn:schemas-upnp-org:device:LarkvatDevice:1\r\n\r\n";
        std::memcpy(i ? d.b : d.a, text.data(), text.size());
        (i ? d.lenB : d.lenA) = static_cast<int>(text.size());
    }
    return d;
}

Datagrams broadcastAnswers() {
    Datagrams d;
    for (int i = 0; i < 2; ++i) {
        char* p = i ? d.b : d.a;
        const unsigned char head[] = {12, 1, 0, 0, 255, 255, 255, 255};
        std::memcpy(p, head, sizeof head);
        std::string options = "id=0A1B2C3D4E0" + std::to_string(i) + "&host=nas-office&vendor=orvale&product=DS-220";
        std::memcpy(p + 20, options.data(), options.size());
        (i ? d.lenB : d.lenA) = 148;
    }
    return d;
}

template <typename Worker>
void decode(benchmark::State& state, Datagrams d) {
    CSearchDeviceClient::SetDeviceCallback(countOnly);
    static Worker* worker = new Worker;  // never started: no socket, no thread
    worker->SetHandOver(CSearchDeviceClient::HandOver());
    std::string sender = "198.51.100.20";
    g_handed = 0;
    for (auto _ : state) {
        worker->HandleReceiveInfo(d.a, d.lenA, sender);
        worker->HandleReceiveInfo(d.b, d.lenB, sender);
    }
    state.SetItemsProcessed(state.iterations() * 2);
    state.counters["handed_share"] = static_cast<double>(g_handed) / (state.iterations() * 2.0);
}

void BM_DecodeSsdpAnswer(benchmark::State& state) { decode<CSearchDeviceMulticastThread>(state, ssdpAnswers()); }
void BM_DecodeBroadcastAnswer(benchmark::State& state) {
    decode<CSearchDeviceBroadcastThread>(state, broadcastAnswers());
}
// What a stranger on port 1900 costs: a text without the marker.
void BM_RejectSsdpWithoutMarker(benchmark::State& state) {
    Datagrams d;
    std::string text =
        "M-SEARCH * HTTP/1.1\r\nHOST: 239.143.255.250:1900\r\nST: ssdp:all\r\nMAN: \"ssdp:discover\"\r\nMX: 3\r\n\r\n";
    std::memcpy(d.a, text.data(), text.size());
    std::memcpy(d.b, text.data(), text.size());
    d.lenA = d.lenB = static_cast<int>(text.size());
    decode<CSearchDeviceMulticastThread>(state, d);
}

BENCHMARK(BM_DecodeSsdpAnswer);
BENCHMARK(BM_DecodeBroadcastAnswer);
BENCHMARK(BM_RejectSsdpWithoutMarker);

}  // namespace

NASSCOUT_BENCHMARK_MAIN()
