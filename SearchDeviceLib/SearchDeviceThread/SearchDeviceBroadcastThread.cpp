// STUB
#include "SearchDeviceBroadcastThread.h"
CSearchDeviceBroadcastThread::CSearchDeviceBroadcastThread() {}
CSearchDeviceBroadcastThread::~CSearchDeviceBroadcastThread() {}
void CSearchDeviceBroadcastThread::InitSearchThread() {}
int CSearchDeviceBroadcastThread::SendSearchCommandToDevice(dhcppacket&) { return 0; }
void CSearchDeviceBroadcastThread::HandleReceiveInfo(char*, int, std::string&) {}
int CSearchDeviceBroadcastThread::HandleDeviceInfo(dhcppacket&, deviceinfo&) { return 1; }
int CSearchDeviceBroadcastThread::FindStringValue(char*, char*, int, char*, int) { return 0; }
