// STUB: replaced by the search client implementation.
#include "SearchDeviceClient.h"

bool CSearchDeviceClient::m_bMulitIP = false;
std::vector<IPANDSEARCHTHREAD> CSearchDeviceClient::m_vSearchDeviceThread;
int CSearchDeviceClient::m_nPort = 1530;

void IPANDSEARCHTHREAD::setvalue(std::string ip, CSearchDeviceThread* thread) {
    localIP = std::move(ip);
    pSearchThread = thread;
}
int CSearchDeviceClient::InitSocketThread(int (*callback)(void*, int), bool multiIP) {
    SetDeviceCallback(callback);
    m_bMulitIP = multiIP;
    return 0;
}
void CSearchDeviceClient::InitSearchDeviceThread(bool) {}
void CSearchDeviceClient::InitSearchDeviceCommandThread() {}
void CSearchDeviceClient::GetCurrentDeviceLocalIP(std::vector<std::string>& ips) { ips.clear(); }
int CSearchDeviceClient::SendMessageToDevice(dhcppacket&) { return 0; }
void CSearchDeviceClient::ExitSocketThread() {}
std::vector<SearchWorkerStatus> CSearchDeviceClient::GetWorkerStatus() { return {}; }
void CSearchDeviceClient::SetAddressSources(AddressSource, AddressSource) {}
void CSearchDeviceClient::SetWorkerFactory(WorkerFactory) {}
void CSearchDeviceClient::ResetForTesting() {}
