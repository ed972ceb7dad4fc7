#include "DataPair.h"

namespace {
std::string text(const char* s) { return s ? std::string(s) : std::string(); }
}  // namespace

DataPair::DataPair(const char* name, const char* ip, const char* type) {
    setDevicename(text(name));
    setDeviceip(text(ip));
    setDevicetype(text(type));
}
