// Scratch directories and files for the engine's unit tests.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace enginetest {

// A fresh directory, removed with its contents.
struct TempDir {
    std::string path;
    TempDir() {
        std::string pattern = std::filesystem::temp_directory_path().string() + "/nasscout-engine-XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) path = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string slash() const { return path + "/"; }
};

// The log's file name for today.
inline std::string todaysLogName() {
    std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    char name[64];
    std::snprintf(name, sizeof name, "%04d-%02d-%02d-SearchDeviceLog.txt", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday);
    return name;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

}  // namespace enginetest
