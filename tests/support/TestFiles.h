// Scratch directories and the search log's files, for the unit tests.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace testfiles {

// A fresh directory, removed with its contents unless kept.
struct TempDir {
    std::string path;
    bool keep = false;
    TempDir() : path(std::filesystem::temp_directory_path().string() + "/nasscout-test-XXXXXX") {
        if (mkdtemp(path.data()) == nullptr) path.clear();
    }
    ~TempDir() {
        if (std::error_code ignored; !keep) std::filesystem::remove_all(path, ignored);
    }
    std::string slash() const { return path + "/"; }
};

// The log's file name for today.
inline std::string todaysLogName() {
    std::time_t now = std::time(nullptr);
    std::tm t{};
    char name[64];
    std::strftime(name, sizeof name, "%Y-%m-%d-SearchDeviceLog.txt", localtime_r(&now, &t));
    return name;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// How often fragment occurs in text.
inline std::size_t countOf(const std::string& text, const std::string& fragment) {
    std::size_t n = 0;
    for (std::size_t at = text.find(fragment); at != std::string::npos; at = text.find(fragment, at + 1)) ++n;
    return n;
}

}  // namespace testfiles
