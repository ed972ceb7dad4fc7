#pragma once

#include <string>
#include <vector>

#include "platform/Resources.h"

// Resources looked up as "<dir>/<name>.<type>" in the given directories, in
// order.
class DirectoryResources : public Resources {
public:
    explicit DirectoryResources(std::vector<std::string> directories);

    // Where the language files of an executable in `exeDir` are: beside it
    // (build tree), then `installedRelative` to it (installed).
    static std::vector<std::string> languageDirectories(const std::string& exeDir,
                                                        const std::string& installedRelative = "../share/nasscout/lang");

    std::optional<std::string> pathForResource(const std::string& name, const std::string& type) const override;
    std::optional<std::vector<char>> contentsOfFile(const std::string& path) const override;

private:
    std::vector<std::string> directories_;
};
