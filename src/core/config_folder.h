// Settling the configuration folder at start-up. Without "/CURDIR[" it is the default
// folder C:\VESKAL.CFG\TCP_LIB_IP\ of the drive root; when that folder holds no
// "TCPIP.CFG" yet, this is a first run: the folders are created and the program folder's
// old configuration files (second name part CFG, 1 to 7, VSK, MAC or DAT) are copied in.
#pragma once

#include "core/start_options.h"
#include "platform/file_system.h"
#include "platform/paths.h"

#include <string>

namespace iplib {

struct ConfigFolderChoice {
    std::string folder;  // POSIX path with a trailing "/"
    bool firstRun = false;
    std::vector<std::string> copied;  // names copied from the program's folder
};

// Whether a file name is one of the old configuration files a first run copies.
bool isMigratedFileName(const std::string& name);

ConfigFolderChoice settleConfigFolder(const StartOptions& options, const DrivePaths& paths,
                                      const std::string& programFolder, FileSystem& files);

}  // namespace iplib
