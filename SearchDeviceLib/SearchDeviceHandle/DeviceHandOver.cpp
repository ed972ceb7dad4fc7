// The device hand-over: the one place where records of all workers meet.
#include <cstring>

#include "SearchDeviceHandle/SearchDeviceClient.h"
#include "ShowLog/ShowLog.h"

using SearchDeviceShowLog::io_printf;

namespace {
// Written once before any worker exists, read afterwards.
int (*call_backup)(void*, int) = nullptr;
}  // namespace

NoDestructor<boost::mutex> CSearchDeviceClient::m_SearchMutex;

void CSearchDeviceClient::SetDeviceCallback(int (*callback)(void*, int)) { call_backup = callback; }

void CSearchDeviceClient::HandleDeviceMessage(void* record, int, int port) {
    // Read once: with no log and no echo the four trace calls are skipped.
    const bool traced = SearchDeviceShowLog::io_log_traced();
    if (traced) io_printf("Handle %d : Search %d Thread Find Device and wait for mutex  ", port, port);
    boost::mutex::scoped_lock lock(*m_SearchMutex);
    if (traced) io_printf("Handle %d : Search %d Thread Find Device have Mutex  ", port, port);
    deviceinfo copy;
    std::memcpy(&copy, record, sizeof copy);
    TerminateDeviceTexts(copy);
    if (traced)
        io_printf("Handle %d : Search %d Thread Find Device ID : %s, IP : %s  ", port, port, copy.id,
                  copy.ip);
    call_backup(&copy, port);
    if (traced) io_printf("Handle %d : Search %d Thread Find Device Success Handle  ", port, port);
}
