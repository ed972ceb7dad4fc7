#include "SearchDeviceThread/SearchDeviceMultiCommandThead.h"

CSearchDeviceMultiCommandThead::CSearchDeviceMultiCommandThead() {}

CSearchDeviceMultiCommandThead::~CSearchDeviceMultiCommandThead() {}

// Bound to one local address and never in the group: it hears only the
// answers sent straight back to that address and port.
void CSearchDeviceMultiCommandThead::InitSearchThread() { StartOnSocket("   "); }

void CSearchDeviceMultiCommandThead::BindSocket(const boost::asio::ip::udp::endpoint& local) {
    socket.bind({strIP.empty() ? local.address() : boost::asio::ip::make_address_v4(strIP), local.port()});
}

void CSearchDeviceMultiCommandThead::ExitSearchThread() { CSearchDeviceThread::ExitSearchThread(); }
