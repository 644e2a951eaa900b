#include "core/config_folder.h"

#include "core/text.h"

namespace iplib {

bool isMigratedFileName(const std::string& name) {
    const std::size_t dot = name.find('.');
    if (dot == std::string::npos) return false;
    const std::size_t next = name.find('.', dot + 1);
    const std::string part = text::toUpper(name.substr(dot + 1, next == std::string::npos ? std::string::npos : next - dot - 1));
    static const char* const kept[] = {"CFG", "1", "2", "3", "4", "5", "6", "7", "VSK", "MAC", "DAT"};
    for (const char* k : kept)
        if (part == k) return true;
    return false;
}

ConfigFolderChoice settleConfigFolder(const StartOptions& options, const DrivePaths& paths,
                                      const std::string& programFolder, FileSystem& files) {
    ConfigFolderChoice choice;
    choice.folder = withTrailingSlash(programFolder);
    if (options.currentFolder) {
        choice.folder = paths.toLocalFolder(*options.currentFolder);
        return choice;
    }
    if (options.currentFolderUnclosed) return choice;

    choice.folder = paths.toLocalFolder("C:\\VESKAL.CFG\\TCP_LIB_IP\\");
    if (files.exists(choice.folder + "TCPIP.CFG")) return choice;

    choice.firstRun = true;
    files.createFolder(paths.root());
    files.createFolder(paths.toLocal("C:\\VESKAL.CFG"));
    files.createFolder(choice.folder);
    for (const auto& name : files.list(programFolder, "*.*")) {
        if (!isMigratedFileName(name)) continue;
        if (files.copy(withTrailingSlash(programFolder) + name, choice.folder + name)) choice.copied.push_back(name);
    }
    return choice;
}

}  // namespace iplib
