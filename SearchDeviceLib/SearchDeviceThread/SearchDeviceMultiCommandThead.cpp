#include "SearchDeviceMultiCommandThead.h"

CSearchDeviceMultiCommandThead::CSearchDeviceMultiCommandThead() {}

CSearchDeviceMultiCommandThead::~CSearchDeviceMultiCommandThead() {}

// Bound to one local address and never in the group: it hears only the
// answers sent straight back to that address and port.
void CSearchDeviceMultiCommandThead::InitSearchThread() { StartAndRetry(false); }

void CSearchDeviceMultiCommandThead::ExitSearchThread() { CSearchDeviceThread::ExitSearchThread(); }
