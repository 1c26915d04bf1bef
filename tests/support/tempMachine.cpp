#include "support/tempMachine.h"

#include "platform/systemInfo.h"
#include "platform/winePath.h"
#include "testData.h"

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <linux/fs.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const char* const SavedNames[] = {"WINEPREFIX", "HOME", "TMPDIR", "XDG_RUNTIME_DIR", "USER"};

fs::path MakeTempRoot() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/korvane-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary folder");
    return fs::path(pattern);
}

void ClearImmutableTree(const fs::path& root) {
    std::error_code error;
    for (auto it =
             fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, error);
         it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (error)
            break;
        if (!it->is_symlink()) {
            int fd = open(it->path().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
            if (fd >= 0) {
                int flags = 0;
                if (ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_IMMUTABLE_FL) != 0) {
                    flags &= ~FS_IMMUTABLE_FL;
                    ioctl(fd, FS_IOC_SETFLAGS, &flags);
                }
                close(fd);
            }
        }
    }
    // Restore write permission everywhere so that the removal below can proceed.
    for (auto it = fs::recursive_directory_iterator(root, error); it != fs::recursive_directory_iterator();
         it.increment(error)) {
        if (error)
            break;
        if (!it->is_symlink())
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
    }
}

} // namespace

TTempMachine::TTempMachine() : FRoot(MakeTempRoot()) {
    for (size_t i = 0; i < std::size(SavedNames); ++i) {
        const char* value = std::getenv(SavedNames[i]);
        FSaved[i] = {SavedNames[i], value != nullptr, value != nullptr ? value : ""};
    }
    fs::create_directories(Prefix() / "dosdevices");
    fs::create_symlink("../drive_c", Prefix() / "dosdevices" / "c:");
    fs::create_symlink("/", Prefix() / "dosdevices" / "z:");
    for (const char* folder :
         {"Program Files", "Program Files (x86)", "Program Files/Common Files", "ProgramData",
          "windows/system32", "users/Public/Desktop", "users/tester/Desktop", "users/tester/AppData/Roaming",
          "users/tester/AppData/Local", "users/tester/Temp"})
        fs::create_directories(DriveC() / folder);
    fs::create_directories(Home());
    fs::create_directories(ProgramFolder());
    fs::create_directories(FRoot / "tmp");
    fs::create_directories(FRoot / "run");
    setenv("WINEPREFIX", Prefix().c_str(), 1);
    setenv("HOME", Home().c_str(), 1);
    setenv("TMPDIR", (FRoot / "tmp").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (FRoot / "run").c_str(), 1);
    setenv("USER", UserName, 1);
    platform::SetModuleFileNameForTesting(ProgramFile());
}

TTempMachine::~TTempMachine() {
    platform::SetModuleFileNameForTesting({});
    RestoreEnvironment();
    ClearImmutableTree(FRoot);
    std::error_code error;
    fs::remove_all(FRoot, error);
}

void TTempMachine::RestoreEnvironment() {
    for (const auto& saved : FSaved) {
        if (saved.WasSet)
            setenv(saved.Name, saved.Value.c_str(), 1);
        else
            unsetenv(saved.Name);
    }
}

std::string TTempMachine::ProgramFolderWindows() const {
    return platform::ToWindowsPath(ProgramFolder()) + "\\";
}

fs::path TTempMachine::HostPath(const std::string& windowsPath) const {
    if (windowsPath.size() < 2 || windowsPath[1] != ':' || (windowsPath[0] | 0x20) != 'c')
        throw std::invalid_argument("not a C: path: " + windowsPath);
    fs::path path = DriveC();
    std::string rest = windowsPath.substr(2);
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find_first_of("\\/", start);
        std::string part = rest.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!part.empty())
            path /= part;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return path;
}

void TTempMachine::WriteHostFile(const fs::path& path, const std::string& content) const {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

void TTempMachine::WriteFile(const std::string& windowsPath, const std::string& content) const {
    WriteHostFile(HostPath(windowsPath), content);
}

void TTempMachine::MakeFolder(const std::string& windowsPath) const {
    fs::create_directories(HostPath(windowsPath));
}

void TTempMachine::MakeLink(const std::string& windowsPath, const fs::path& target) const {
    fs::path link = HostPath(windowsPath);
    fs::create_directories(link.parent_path());
    fs::create_symlink(target, link);
}

void TTempMachine::SetDosAttributes(const fs::path& path, uint32_t attributes) const {
    if (attributes == 0) {
        removexattr(path.c_str(), "user.DOSATTRIB");
        return;
    }
    std::string value = "0x" + std::to_string(attributes & 0x6);
    setxattr(path.c_str(), "user.DOSATTRIB", value.data(), value.size(), 0);
}

bool TTempMachine::SetImmutable(const fs::path& path, bool immutable) const {
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    int flags = 0;
    bool done = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
        flags = immutable ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        done = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    close(fd);
    return done;
}

void TTempMachine::WriteRegistryFile(const std::string& name, const std::string& text) const {
    WriteHostFile(Prefix() / name, text);
}

void TTempMachine::UseFixtureRegistry(const std::string& fixtureName) const {
    fs::path source = fs::path(KORVANE_TEST_DATA_DIR) / "wine-prefix" / fixtureName;
    for (const char* name : {"system.reg", "user.reg", "userdef.reg"}) {
        fs::copy_file(source / name, Prefix() / name, fs::copy_options::overwrite_existing);
        fs::permissions(Prefix() / name, fs::perms::owner_read | fs::perms::owner_write,
                        fs::perm_options::add);
    }
}
