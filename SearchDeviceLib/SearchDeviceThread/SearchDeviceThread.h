// Base of every search worker: one UDP socket, one detached receive thread.
#pragma once

#include <utility>  // before Asio: 1.74 uses std::exchange without it in C++20
#include <atomic>
#include <boost/asio.hpp>
#include <mutex>
#include <string>

#include "CommonStruct.h"

class CSearchDeviceThread {
public:
    CSearchDeviceThread();
    // Slot order of the virtual operations is part of the worker contract.
    virtual ~CSearchDeviceThread();
    // Stores address (null = any), port and retry flag, then starts.
    virtual void InitSearchThread(const char* strIP, int nPort, bool bRetry);
    virtual void InitSearchThread();
    virtual void ExitSearchThread();
    virtual int SendSearchCommandToDevice(dhcppacket& packet);
    virtual void ClearOldDeviceInfo();
    virtual int HandleProtocolInfo();
    virtual void HandleReceiveInfo(char* data, int length, std::string& senderIP);

    // Start outcome, for the client's status snapshot (written by the
    // starting thread only).
    bool StartSucceeded() const { return bStarted; }
    const std::string& LastStartError() const { return strStartError; }
    int Port() const { return nPort; }

protected:
    deviceinfo oldDeviceInfo;
    boost::asio::io_service ioService;
    boost::asio::ip::udp::socket socket;
    std::string strIP;
    int nPort = 1530;
    int testCount = 0;
    std::atomic<bool> bExitSock{false};
    bool bRetry = false;

    // Guards oldDeviceInfo between the receive thread and ClearOldDeviceInfo.
    std::mutex oldMutex;
    bool bStarted = false;
    std::string strStartError;
};
