#include "SearchDeviceMultiCommandThead.h"

#include <exception>

#include "ShowLog.h"

using SearchDeviceShowLog::io_printf;
namespace ip = boost::asio::ip;

CSearchDeviceMultiCommandThead::CSearchDeviceMultiCommandThead() {}

CSearchDeviceMultiCommandThead::~CSearchDeviceMultiCommandThead() {}

// Bound to one local address and never in the group: it hears only the
// answers sent straight back to that address and port.
void CSearchDeviceMultiCommandThead::InitSearchThread() {
    io_printf("SendThread %d : Create Search Device Work Thread   ", nPort);
    bool failed = false;
    try {
        socket.open(ip::udp::v4());
        ip::address_v4 local = strIP.empty() ? ip::address_v4::any() : ip::make_address_v4(strIP);
        socket.bind(ip::udp::endpoint(local, static_cast<unsigned short>(nPort)));
        StartReceiveThread();
        RecordStartSuccess();
    } catch (const std::exception& e) {
        RecordStartFailure(e.what());
        failed = true;
    }
    if (failed && bRetry) HandleInitSearchThreadError();
}

void CSearchDeviceMultiCommandThead::ExitSearchThread() { CSearchDeviceThread::ExitSearchThread(); }
