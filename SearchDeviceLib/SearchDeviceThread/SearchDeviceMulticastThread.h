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

    // Joins the group also on the interface that holds localIP; the stop
    // leaves every such membership again. "Any interface" makes the kernel
    // join on the default route's interface only, so the announcements of
    // every other network would go unheard. Called at every search: a join
    // that failed, or was lost with its interface (deleted and made again by
    // a VPN reconnect or Wi-Fi), is made again. While a membership holds
    // nothing is traced; a join made again traces the first join's line, and
    // an error only when it differs from the last one traced for the address.
    void JoinGroupOn(const std::string& localIP);

protected:
    // A group member joins before it binds and shares the port with address
    // reuse; the retry moves it to the next port when allowed.
    void SetOwnOptions() override;
    bool NextPortAfterFailure() override;

private:
    void LeaveExtraGroups();

    struct GroupJoin {
        std::string localIP;
        bool member = false;          // our own membership is made
        unsigned interfaceIndex = 0;  // of the interface it was made on, 0 when unknown
        std::string error;            // the last join error traced
    };
    // Touched only by the thread that starts, searches and stops.
    std::vector<GroupJoin> vJoins;
};
