// STUB
#include "SearchDeviceMultiCommandThead.h"
CSearchDeviceMultiCommandThead::CSearchDeviceMultiCommandThead() {}
CSearchDeviceMultiCommandThead::~CSearchDeviceMultiCommandThead() {}
void CSearchDeviceMultiCommandThead::InitSearchThread() {}
void CSearchDeviceMultiCommandThead::ExitSearchThread() {}
