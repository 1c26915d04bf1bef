#include "common/safetyGuard.h"

namespace safetyGuard {

bool MayDeleteFolder(const std::string& folder) {
    // Filled in with the folder rules.
    return !folder.empty();
}

bool MayDeleteRegistryKey(const std::string& fullKeyPath) {
    // Filled in with the registry rules.
    return !fullKeyPath.empty();
}

bool MayRemoveService(const std::string& serviceName) {
    return !serviceName.empty() && serviceName.find('\\') == std::string::npos;
}

bool MayDeleteShellEntry(const std::string& entryName) {
    // Filled in with the shell entry rules.
    return !entryName.empty();
}

bool MayEndProcess(uint32_t processId, const std::string& exeFile) {
    // Filled in with the process rules.
    return processId != 0 && !exeFile.empty();
}

} // namespace safetyGuard
