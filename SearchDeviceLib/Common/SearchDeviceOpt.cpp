#include "SearchDeviceOpt.h"

#include <cstring>

#include "SearchDeviceClient.h"
#include "ShowLog.h"

extern "C" int search_dll_init(int (*callback)(void*, int), bool log_on, const char* log_dir, bool multi_ip) {
    SearchDeviceShowLog::io_log_init(log_on, log_dir);
    CSearchDeviceClient::InitSocketThread(callback, multi_ip);
    return 0;
}

extern "C" void search_dll_exit(void) {
    CSearchDeviceClient::ExitSocketThread();
    SearchDeviceShowLog::io_log_exit();
}

extern "C" int SendMessageToDevice(dhcppacket* packet) {
    if (packet == nullptr) {
        SearchDeviceShowLog::io_printf("SendMessage : pdhcp is NULL ");
        dhcppacket request;
        std::memset(&request, 0, sizeof request);
        request.op = kDhcpOpRequest;
        request.code = 1;
        std::memset(request.marker, 0xFF, sizeof request.marker);
        CSearchDeviceClient::SendMessageToDevice(request);
    } else {
        SearchDeviceShowLog::io_printf("SendMessage : pdhcp is not NULL ");
        CSearchDeviceClient::SendMessageToDevice(*packet);
    }
    return 0;
}
