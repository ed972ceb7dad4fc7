// SSDP-style search on 239.143.255.250:1900: M-SEARCH requests, and decoding
// of answers and NOTIFY alive/byebye announcements.
#pragma once

#include <string>
#include <vector>

#include "SearchDeviceThread/SearchDeviceThread.h"

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

    // Joins the group also on the interface that holds localIP (once per
    // address); the stop leaves every such membership again. "Any interface"
    // makes the kernel join on the default route's interface only, so the
    // announcements of every other network would go unheard.
    void JoinGroupOn(const std::string& localIP);

protected:
    // A group member joins before it binds and shares the port with address
    // reuse; the retry moves it to the next port when allowed.
    void SetOwnOptions() override;
    bool NextPortAfterFailure() override;

private:
    void LeaveExtraGroups();

    // Touched only by the thread that starts, searches and stops.
    std::vector<std::string> vJoinTried;
    std::vector<std::string> vJoined;
};
