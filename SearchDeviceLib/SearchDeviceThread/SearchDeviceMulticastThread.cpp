// STUB
#include "SearchDeviceMulticastThread.h"
CSearchDeviceMulticastThread::CSearchDeviceMulticastThread() {}
CSearchDeviceMulticastThread::~CSearchDeviceMulticastThread() {}
void CSearchDeviceMulticastThread::InitSearchThread() {}
void CSearchDeviceMulticastThread::ExitSearchThread() {}
int CSearchDeviceMulticastThread::SendSearchCommandToDevice(dhcppacket&) { return 0; }
void CSearchDeviceMulticastThread::HandleReceiveInfo(char*, int, std::string&) {}
void CSearchDeviceMulticastThread::AlterMulticastGroupInfo(bool) {}
void CSearchDeviceMulticastThread::HandleInitSearchThreadError() {}
char* CSearchDeviceMulticastThread::str_ltrim(char* t) { return t; }
