#include "DirectoryResources.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

DirectoryResources::DirectoryResources(std::vector<std::string> directories) : directories_(std::move(directories)) {}

std::vector<std::string> DirectoryResources::languageDirectories(const std::string& exeDir,
                                                                const std::string& installedRelative) {
    return {exeDir + "/lang", exeDir + "/" + installedRelative};
}

std::optional<std::string> DirectoryResources::pathForResource(const std::string& name, const std::string& type) const {
    for (const std::string& dir : directories_) {
        const fs::path candidate = fs::path(dir) / (name + "." + type);
        std::error_code ec;
        if (fs::is_regular_file(candidate, ec)) return candidate.lexically_normal().string();
    }
    return std::nullopt;
}

std::optional<std::vector<char>> DirectoryResources::contentsOfFile(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return bytes;
}
