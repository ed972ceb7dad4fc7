// Base of every search worker: one UDP socket, one detached receive thread.
// A worker owns its socket, its thread and its last forwarded record; the
// decoding is Protocol/'s, and what it finds leaves only through the
// hand-over it is given: it never touches the client, the sweep or the list.
#pragma once

// clang-format off
#include <utility>  // before Asio: 1.74 uses std::exchange without it in C++20
// clang-format on

#include <atomic>
#include <boost/asio.hpp>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "Common/CommonStruct.h"
#include "Common/SearchWorkerStatus.h"

// Where a worker hands on what it found, given by whoever made it before it
// starts: the workers know no client. A null entry drops what it would get.
struct WorkerHandOver {
    // A decoded record (the worker's own copy, length bytes) and the port of
    // the worker that decoded it; called on the worker's receive thread.
    void (*device)(void* record, int length, int port) = nullptr;
    // How the last broadcast request left, one entry per interface tried.
    void (*broadcastSends)(std::vector<SearchBroadcastSend> sends) = nullptr;
};

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
    // The worker bound a port that another program holds too (address reuse).
    bool PortShared() const { return bShared; }
    // Local IPv4 address (host byte order) the socket is bound to, 0 for any.
    std::uint32_t BoundAddress() const { return nBoundAddress; }

    // One datagram to address:port (host byte order) from this worker's
    // socket, without a log line: a sweep of targets sends thousands. Returns
    // 0 or the system's error number.
    int SendUnicast(const void* data, std::size_t size, std::uint32_t address, unsigned short port);

    // Before InitSearchThread only: the receive thread reads it unguarded.
    void SetHandOver(const WorkerHandOver& given) { handOver = given; }

protected:
    WorkerHandOver handOver;
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
    bool bShared = false;
    std::string strStartError;
    std::uint32_t nBoundAddress = 0;

    // --- Socket access shared by the protocols ------------------------------
    // The caller's thread (start, sends, join/leave, stop) and the receive
    // thread (its final close) meet on sockMutex. The receive itself runs
    // without it: it only reads the descriptor, which nobody closes while a
    // receive thread owns it.

    // Starts the detached receive thread; throws std::system_error on failure.
    void StartReceiveThread();
    void RecordStartSuccess();
    // After a failed start attempt: closes the socket (unless a receive thread
    // still owns it), records the error and writes the start error line.
    void RecordStartFailure(const char* what);
    // Sends one datagram; throws boost::system::system_error, also when the
    // worker was stopped or never opened its socket.
    void SendDatagram(const void* data, std::size_t size, const boost::asio::ip::udp::endpoint& to);
    // The same, but out of one interface (index) with source address
    // (host byte order): a limited broadcast from an any-address socket
    // would otherwise leave only where the default route points.
    void SendDatagramThrough(const void* data, std::size_t size, const boost::asio::ip::udp::endpoint& to,
                             unsigned interfaceIndex, std::uint32_t source);
    template <typename Option>
    void SetSocketOption(const Option& option) {
        std::lock_guard<std::mutex> lock(sockMutex);
        socket.set_option(option);
    }
    // True from a successful start until the receive thread has left its loop.
    bool ReceiveThreadRunning();

    // The start every worker shares, one pass per port tried: the create line
    // (ending in `blanks`), open, the worker's own options, bind, the receive
    // thread and the outcome; after a failure the next port while
    // NextPortAfterFailure allows it.
    void StartOnSocket(const char* blanks);
    // The steps a worker adds to it: options between open and bind (the
    // receive buffer follows the bind), the bind itself, and the retry step.
    virtual void SetOwnOptions() {}
    virtual void BindSocket(const boost::asio::ip::udp::endpoint& local) { socket.bind(local); }
    virtual bool NextPortAfterFailure() { return false; }

private:
    // The receive loop's two forms: one datagram per wait, with every trace
    // line, while the log is on; batches of whatever has queued up, with no
    // trace lines to write, while it is off.
    void ReceiveEach(char* buffer);
    void ReceiveBatches();
    void LeaveReceiveLoop();

    std::mutex sockMutex;
    bool bReceiving = false;  // guarded by sockMutex
};
