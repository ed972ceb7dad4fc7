// STUB: replaced by the worker implementation.
#include "SearchDeviceThread.h"
CSearchDeviceThread::CSearchDeviceThread() : socket(ioService) {}
CSearchDeviceThread::~CSearchDeviceThread() {}
void CSearchDeviceThread::InitSearchThread(const char*, int, bool) {}
void CSearchDeviceThread::InitSearchThread() {}
void CSearchDeviceThread::ExitSearchThread() {}
int CSearchDeviceThread::SendSearchCommandToDevice(dhcppacket&) { return 0; }
void CSearchDeviceThread::ClearOldDeviceInfo() {}
int CSearchDeviceThread::HandleProtocolInfo() { return 0; }
void CSearchDeviceThread::HandleReceiveInfo(char*, int, std::string&) {}
