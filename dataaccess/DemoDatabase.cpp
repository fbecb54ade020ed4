#include "dataaccess/DemoDatabase.h"

#include "dataaccess/Paths.h"

#ifndef TARNWELL_DATA_INSTALL_DIR
#define TARNWELL_DATA_INSTALL_DIR "/usr/local/share/tarnwell"
#endif

namespace tarnwell::db {

std::string findDemoDatabase(const std::string& executableDirectory) {
    const std::string directory = executableDirectory.empty() ? db::executableDirectory() : executableDirectory;
    const std::string installed = std::string(TARNWELL_DATA_INSTALL_DIR) + "/" + kDemoDatabaseFileName;
    if (!directory.empty()) {
        for (const std::string& candidate : {directory + "/data/" + kDemoDatabaseFileName,
                                             directory + "/../share/tarnwell/" + kDemoDatabaseFileName}) {
            if (fileExists(candidate)) {
                return candidate;
            }
        }
    }
    return installed;
}

}  // namespace tarnwell::db
