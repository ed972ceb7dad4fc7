// SSDP-style search on 239.143.255.250:1900: M-SEARCH requests, and decoding
// of answers and NOTIFY alive/byebye announcements.
#pragma once

#include <string_view>

#include "SearchDeviceThread.h"

class CSearchDeviceMulticastThread : public CSearchDeviceThread {
public:
    CSearchDeviceMulticastThread();
    ~CSearchDeviceMulticastThread() override;
    void InitSearchThread() override;
    using CSearchDeviceThread::InitSearchThread;
    void ExitSearchThread() override;
    int SendSearchCommandToDevice(dhcppacket& packet) override;
    void HandleReceiveInfo(char* data, int length, std::string& senderIP) override;

    void AlterMulticastGroupInfo(bool join);
    void HandleInitSearchThreadError();
    char* str_ltrim(char* text);

    // The 129-byte M-SEARCH request, without its terminating zero.
    static std::string_view SearchRequest();

protected:
    // One start attempt, then the retry on the next port when allowed. A
    // group member joins before it binds any address; otherwise the socket
    // binds the worker's own address (any when none) and stays out of the group.
    void StartAndRetry(bool groupMember);
};
