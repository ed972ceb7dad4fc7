// The SSDP search from one local address and a port of its own, without
// joining the group: hears the answers sent straight back to it.
#pragma once

#include "SearchDeviceThread/SearchDeviceMulticastThread.h"

class CSearchDeviceMultiCommandThead : public CSearchDeviceMulticastThread {
public:
    CSearchDeviceMultiCommandThead();
    ~CSearchDeviceMultiCommandThead() override;
    void InitSearchThread() override;
    using CSearchDeviceThread::InitSearchThread;
    void ExitSearchThread() override;

protected:
    // Out of the group: no options of its own, and its own address bound.
    void SetOwnOptions() override {}
    void BindSocket(const boost::asio::ip::udp::endpoint& local) override;
};
