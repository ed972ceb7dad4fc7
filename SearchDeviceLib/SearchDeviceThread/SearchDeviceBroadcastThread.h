// Broadcast search: the fixed 148-byte request to 255.255.255.255:68 from
// port 67, and decoding of the devices' 148-byte answers.
#pragma once

#include "SearchDeviceThread.h"

class CSearchDeviceBroadcastThread : public CSearchDeviceThread {
public:
    CSearchDeviceBroadcastThread();
    ~CSearchDeviceBroadcastThread() override;
    void InitSearchThread() override;
    using CSearchDeviceThread::InitSearchThread;
    int SendSearchCommandToDevice(dhcppacket& packet) override;
    void HandleReceiveInfo(char* data, int length, std::string& senderIP) override;

    int HandleDeviceInfo(dhcppacket& packet, deviceinfo& info);
    // Looks up one key in the 128-byte option area (text up to its first zero
    // byte or the area's end); 1 when found. Keys match only at the start of
    // the text or right after '&'. field needs maxLen + 1 bytes.
    int FindStringValue(const char* options, char* field, int maxLen, const char* key, int keyLen);
};
