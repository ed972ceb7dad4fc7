#pragma once

#include <string>

// A device's name, address and type as texts.
class DataPair {
public:
    DataPair() = default;
    // A null pointer gives an empty text.
    DataPair(const char* name, const char* ip, const char* type);

    const std::string& devicename() const { return devicename_; }
    const std::string& deviceip() const { return deviceip_; }
    const std::string& devicetype() const { return devicetype_; }
    void setDevicename(std::string v) { devicename_ = std::move(v); }
    void setDeviceip(std::string v) { deviceip_ = std::move(v); }
    void setDevicetype(std::string v) { devicetype_ = std::move(v); }
    const std::string& getTheIp() const { return deviceip_; }

private:
    std::string devicename_;
    std::string deviceip_;
    std::string devicetype_;
};
