#include "platform/wineRegistry.h"

#include "platform/processes.h"
#include "platform/registry.h"
#include "support/childProcess.h"
#include "support/hiveBuilder.h"
#include "support/scopedVariable.h"
#include "support/tempMachine.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <optional>
#include <signal.h>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {

std::string ReadHostFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string ServerFolderName(const fs::path& prefix) {
    struct stat info {};
    stat(prefix.c_str(), &info);
    char name[64];
    std::snprintf(name, sizeof name, "server-%llx-%llx", static_cast<unsigned long long>(info.st_dev),
                  static_cast<unsigned long long>(info.st_ino));
    return name;
}

// A stand-in for a running wineserver: a child process that holds a POSIX write lock on <folder>/lock.
class TFakeWineServer {
public:
    explicit TFakeWineServer(const fs::path& serverFolder) {
        fs::create_directories(serverFolder);
        int ready[2] = {-1, -1};
        if (pipe(ready) != 0)
            return;
        FPid = fork();
        if (FPid == 0) {
            close(ready[0]);
            int fd = open((serverFolder / "lock").c_str(), O_RDWR | O_CREAT, 0600);
            struct flock lock {};
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            char locked = fd >= 0 && fcntl(fd, F_SETLK, &lock) == 0 ? 1 : 0;
            if (write(ready[1], &locked, 1) != 1)
                _exit(1);
            for (;;)
                pause();
        }
        close(ready[1]);
        char locked = 0;
        FLocked = FPid > 0 && read(ready[0], &locked, 1) == 1 && locked == 1;
        close(ready[0]);
    }
    ~TFakeWineServer() { Stop(); }
    TFakeWineServer(const TFakeWineServer&) = delete;
    TFakeWineServer& operator=(const TFakeWineServer&) = delete;

    bool Locked() const { return FLocked; }
    void Stop() {
        if (FPid > 0) {
            kill(FPid, SIGKILL);
            waitpid(FPid, nullptr, 0);
            FPid = -1;
        }
    }

private:
    pid_t FPid = -1;
    bool FLocked = false;
};

// Runs Body in a child process and returns its exit status (-1 when it did not exit normally).
template <typename TBody> int InChild(TBody body) {
    pid_t pid = fork();
    if (pid == 0) {
        body();
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class WineRegistryTest : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(FMachine.Root() / "run-user");
        TWineRegistry::SetRuntimeFolderForTesting(FMachine.Root() / "run-user");
        THiveBuilder system(THiveBuilder::System);
        system.Key("Software\\Acme").String("Path", "C:\\Acme").Dword("N", 1);
        system.Key("Software\\Acme\\Sub").String("Level", "3");
        FMachine.WriteRegistryFile("system.reg", system.Text());
        FMachine.WriteRegistryFile(
            "user.reg", THiveBuilder(THiveBuilder::User).Key("Software\\Mine").String("A", "b").Text());
    }
    void TearDown() override {
        TWineRegistry::SetRuntimeFolderForTesting({});
        TWineRegistry::SetSaveHookForTesting({});
    }

    fs::path SystemFile() const { return FMachine.Prefix() / "system.reg"; }
    std::string ReadAcme(const std::string& name) {
        TRegistry registry(KEY_READ);
        registry.SetRootKey(HKEY_LOCAL_MACHINE);
        return registry.OpenKey("\\Software\\Acme", false) ? registry.ReadString(name) : "<no key>";
    }
    // Writes a value through a fresh accessor; false when the write was refused.
    bool WriteAcme(const std::string& name, const std::string& value) {
        TRegistry registry;
        registry.SetRootKey(HKEY_LOCAL_MACHINE);
        if (!registry.OpenKey("\\Software\\Acme", false))
            return false;
        try {
            registry.WriteString(name, value);
            return true;
        } catch (const ERegistryException&) {
            return false;
        }
    }
    void ReplaceFile(const fs::path& path, const std::string& text) {
        fs::path temp = path.string() + ".new";
        FMachine.WriteHostFile(temp, text);
        fs::rename(temp, path);
    }

    TTempMachine FMachine;
};

TEST_F(WineRegistryTest, SeesChangesOfOtherProgramsBetweenOpens) {
    EXPECT_EQ(ReadAcme("Path"), "C:\\Acme");

    // Replaced by rename, as Wine and editors do.
    ReplaceFile(SystemFile(),
                THiveBuilder(THiveBuilder::System).Key("Software\\Acme").String("Path", "D:\\New").Text());
    EXPECT_EQ(ReadAcme("Path"), "D:\\New");
    // Rewritten in place with another size.
    FMachine.WriteRegistryFile(
        "system.reg",
        THiveBuilder(THiveBuilder::System).Key("Software\\Acme").String("Path", "E:\\Longer").Text());
    EXPECT_EQ(ReadAcme("Path"), "E:\\Longer");

    // A vanished file is an empty hive that cannot be written.
    fs::remove(SystemFile());
    EXPECT_EQ(ReadAcme("Path"), "<no key>");
    TRegistry registry;
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    EXPECT_FALSE(registry.OpenKey("\\Software\\Acme", true));
    EXPECT_FALSE(registry.DeleteKey("\\Software\\Acme"));
    EXPECT_FALSE(fs::exists(SystemFile()));

    ReplaceFile(SystemFile(),
                THiveBuilder(THiveBuilder::System).Key("Software\\Acme").String("Path", "F:\\Back").Text());
    EXPECT_EQ(ReadAcme("Path"), "F:\\Back");
}

TEST_F(WineRegistryTest, SeesEveryWayAnotherProgramChangesTheFile) {
    // Each change keeps the file's size, so that only its identity, its time or its change stamp can show it.
    auto hive = [](const char* path) {
        return THiveBuilder(THiveBuilder::System).Key("Software\\Acme").String("Path", path).Text();
    };
    const fs::path elsewhere = FMachine.Root() / "elsewhere";
    fs::create_directories(elsewhere);
    const std::pair<const char*, std::function<void(const std::string&)>> changes[] = {
        {"C:\\Ac01", [&](const std::string& text) { ReplaceFile(SystemFile(), text); }},
        {"C:\\Ac02",
         [&](const std::string& text) {
             // Written through a second name in another folder.
             fs::remove(elsewhere / "link.reg");
             fs::create_hard_link(SystemFile(), elsewhere / "link.reg");
             FMachine.WriteHostFile(elsewhere / "link.reg", text);
         }},
        {"C:\\Ac03", [&](const std::string& text) { FMachine.WriteRegistryFile("system.reg", text); }},
        {"C:\\Ac04",
         [&](const std::string& text) {
             fs::remove(SystemFile());
             EXPECT_EQ(ReadAcme("Path"), "<no key>");
             FMachine.WriteRegistryFile("system.reg", text);
         }},
    };
    ASSERT_EQ(ReadAcme("Path"), "C:\\Acme");
    for (const auto& [path, change] : changes) {
        change(hive(path));
        EXPECT_EQ(ReadAcme("Path"), path);
    }

    // A forked child has its own notifications: what it reads does not take the parent's.
    FMachine.WriteRegistryFile("system.reg", hive("C:\\Ac05"));
    EXPECT_EQ(InChild([&] { _exit(ReadAcme("Path") == "C:\\Ac05" ? 0 : 1); }), 0);
    EXPECT_EQ(ReadAcme("Path"), "C:\\Ac05");
    EXPECT_EQ(InChild([&] {
                  FMachine.WriteRegistryFile("system.reg", hive("C:\\Ac06"));
                  _exit(ReadAcme("Path") == "C:\\Ac06" ? 0 : 1);
              }),
              0);
    EXPECT_EQ(ReadAcme("Path"), "C:\\Ac06");
}

// WINEPREFIX may name a link (~/.wine pointing at one of several prefixes): pointing it elsewhere shows the
// other prefix's registry at the next open, although the text of WINEPREFIX stays the same.
TEST_F(WineRegistryTest, APrefixLinkPointedElsewhereShowsTheOtherRegistry) {
    const fs::path other = FMachine.Root() / "other-prefix";
    FMachine.WriteHostFile(
        other / "system.reg",
        THiveBuilder(THiveBuilder::System).Key("Software\\Acme").String("Path", "D:\\Other").Text());
    const fs::path link = FMachine.Root() / "wine-link";
    fs::create_directory_symlink(FMachine.Prefix(), link);
    setenv("WINEPREFIX", link.c_str(), 1);
    ASSERT_EQ(ReadAcme("Path"), "C:\\Acme");
    const fs::path pointed = FMachine.Root() / "wine-link.new";
    fs::create_directory_symlink(other, pointed);
    fs::rename(pointed, link);
    EXPECT_EQ(ReadAcme("Path"), "D:\\Other");
    setenv("WINEPREFIX", FMachine.Prefix().c_str(), 1);
}

TEST_F(WineRegistryTest, AWriteKeepsWhatAnotherProgramChangedBeforeIt) {
    ASSERT_TRUE(WriteAcme("Ours1", "1"));
    std::string text = ReadHostFile(SystemFile());
    text += "\n[Software\\\\Theirs] 1796892292\n\"T\"=\"x\"\n";
    ReplaceFile(SystemFile(), text);
    ASSERT_TRUE(WriteAcme("Ours2", "2"));

    auto disk = THive::Parse(ReadHostFile(SystemFile()));
    EXPECT_TRUE(disk->Complete()) << disk->Problem();
    THiveKey* software = disk->Root().FindChild("Software");
    EXPECT_NE(software->FindChild("Theirs"), nullptr);
    EXPECT_NE(software->FindChild("Acme")->FindValue("Ours1"), nullptr);
    EXPECT_NE(software->FindChild("Acme")->FindValue("Ours2"), nullptr);
}

TEST_F(WineRegistryTest, ConcurrentWritersOfOnePrefixLoseNothing) {
    constexpr int Count = 15;
    pid_t child = fork();
    if (child == 0) {
        bool ok = true;
        for (int i = 0; i < Count; ++i)
            ok = WriteAcme("Child" + std::to_string(i), std::string(static_cast<size_t>(i % 3), 'c')) && ok;
        _exit(ok ? 0 : 1);
    }
    for (int i = 0; i < Count; ++i)
        EXPECT_TRUE(WriteAcme("Parent" + std::to_string(i), std::string(static_cast<size_t>(i % 3), 'p')));
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    auto disk = THive::Parse(ReadHostFile(SystemFile()));
    THiveKey* acme = disk->Root().FindChild("Software")->FindChild("Acme");
    for (int i = 0; i < Count; ++i) {
        EXPECT_NE(acme->FindValue("Child" + std::to_string(i)), nullptr) << i;
        EXPECT_NE(acme->FindValue("Parent" + std::to_string(i)), nullptr) << i;
    }
    EXPECT_EQ(ReadAcme("Child7"), "c");
}

TEST_F(WineRegistryTest, ASaveKilledPartWayLeavesTheOldFileWhole) {
    const std::string before = ReadHostFile(SystemFile());
    for (int stage : {1, 2}) {
        int status = InChild([&] {
            TWineRegistry::SetSaveHookForTesting([stage](int reached) {
                if (reached == stage)
                    _exit(7); // the process dies in the middle of the save
                return true;
            });
            WriteAcme("Crash", std::string(4000, 'x'));
        });
        EXPECT_EQ(status, 7);
        EXPECT_EQ(ReadHostFile(SystemFile()), before) << "stage " << stage;
        EXPECT_EQ(ReadAcme("Crash"), "");
    }
    // The next save succeeds and clears the dead writer's temporary file.
    ASSERT_TRUE(WriteAcme("After", "ok"));
    auto disk = THive::Parse(ReadHostFile(SystemFile()));
    EXPECT_TRUE(disk->Complete());
    EXPECT_EQ(ReadAcme("After"), "ok");
    for (const auto& item : fs::directory_iterator(FMachine.Prefix()))
        EXPECT_EQ(item.path().filename().string().find("system.reg."), std::string::npos) << item.path();
}

TEST_F(WineRegistryTest, AFailedSaveChangesNeitherTheFileNorWhatIsRead) {
    const std::string before = ReadHostFile(SystemFile());
    TWineRegistry::SetSaveHookForTesting([](int stage) { return stage != 2; });
    EXPECT_FALSE(WriteAcme("Path", "changed"));
    TRegistry registry;
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    EXPECT_FALSE(registry.DeleteKey("\\Software\\Acme\\Sub"));
    TWineRegistry::SetSaveHookForTesting({});
    EXPECT_EQ(ReadHostFile(SystemFile()), before);
    EXPECT_EQ(ReadAcme("Path"), "C:\\Acme");
    EXPECT_TRUE(registry.KeyExists("\\Software\\Acme\\Sub"));
}

class WineServerDetection : public WineRegistryTest, public testing::WithParamInterface<bool> {};

TEST_P(WineServerDetection, ARunningServerRefusesEveryWriteWhileReadsGoOn) {
    bool underRuntimeFolder = GetParam();
    fs::path serverFolder;
    if (underRuntimeFolder) {
        serverFolder = FMachine.Root() / "run-user" / "wine" / ServerFolderName(FMachine.Prefix());
    } else {
        // Without /run/user/<uid>: $TMPDIR/<name from the prefix's wineserver file>/server-...
        TWineRegistry::SetRuntimeFolderForTesting(FMachine.Root() / "no-run-user");
        FMachine.WriteHostFile(FMachine.Prefix() / "wineserver", "wine-32g8kH");
        serverFolder = FMachine.Root() / "tmp" / "wine-32g8kH" / ServerFolderName(FMachine.Prefix());
    }
    const std::string before = ReadHostFile(SystemFile());
    {
        TFakeWineServer server(serverFolder);
        ASSERT_TRUE(server.Locked());
        EXPECT_TRUE(TWineRegistry::Instance().WineServerRunning());

        TRegistry registry;
        registry.SetRootKey(HKEY_LOCAL_MACHINE);
        ASSERT_TRUE(registry.OpenKey("\\Software\\Acme", false)); // opening for writing still works
        EXPECT_EQ(registry.ReadString("Path"), "C:\\Acme");
        EXPECT_THROW(registry.WriteString("Path", "x"), ERegistryException);
        EXPECT_FALSE(registry.DeleteValue("Path"));
        EXPECT_FALSE(registry.DeleteKey("\\Software\\Acme\\Sub"));
        EXPECT_FALSE(registry.OpenKey("\\Software\\Acme\\New", true));
        EXPECT_FALSE(registry.KeyExists("\\Software\\Acme\\New"));
        EXPECT_EQ(ReadHostFile(SystemFile()), before);
    }
    // The lock file stays after the server ends; only the lock counts.
    ASSERT_TRUE(fs::exists(serverFolder / "lock"));
    EXPECT_FALSE(TWineRegistry::Instance().WineServerRunning());
    EXPECT_TRUE(WriteAcme("Path", "after the server"));
    EXPECT_EQ(ReadAcme("Path"), "after the server");
}

INSTANTIATE_TEST_SUITE_P(ServerFolders, WineServerDetection, testing::Bool());

TEST_F(WineRegistryTest, ALockInAnotherBaseFolderIsNotThisPrefixsServer) {
    // With /run/user/<uid> present, Wine never looks under $TMPDIR.
    FMachine.WriteHostFile(FMachine.Prefix() / "wineserver", "wine-32g8kH");
    TFakeWineServer server(FMachine.Root() / "tmp" / "wine-32g8kH" / ServerFolderName(FMachine.Prefix()));
    ASSERT_TRUE(server.Locked());
    EXPECT_FALSE(TWineRegistry::Instance().WineServerRunning());
    TFakeWineServer other(FMachine.Root() / "run-user" / "wine" / "server-1-2");
    EXPECT_FALSE(TWineRegistry::Instance().WineServerRunning());
}

// A wineserver is also known from outside, whatever base folder its environment chose: a process of the user
// whose program file is named wineserver... and whose working folder is named after the prefix's server
// folder. Stand-ins (the machine's sleep under another name) run in the folder as a server would.
TEST_F(WineRegistryTest, AServerProcessIsKnownByItsNameItsUserAndItsWorkingFolder) {
    const std::string serverName = ServerFolderName(FMachine.Prefix());
    const fs::path root = FMachine.Root();
    struct TCase {
        const char* What;
        const char* Program;
        fs::path Folder;
        int User;
        bool Running;
    } cases[] = {
        {"Debian's server under another TMPDIR", "wineserver64",
         root / "elsewhere" / "wine-Ab12Cd" / serverName, -1, true},
        {"a server under any base", "wineserver", root / "any" / serverName, -1, true},
        {"another program in the server folder", "wine64", root / "elsewhere" / "wine-Ab12Cd" / serverName,
         -1, false},
        {"the server of another prefix", "wineserver64", root / "elsewhere" / "server-fe00-1", -1, false},
        {"another user's server", "wineserver64", root / "other-user" / serverName, 65534, false},
    };
    const fs::path here = fs::current_path();
    for (const TCase& c : cases) {
        if (c.User >= 0 && geteuid() != 0)
            continue; // only root can start a process of another user
        const fs::path program = root / "bin" / c.What / c.Program;
        TChildProcess::CopySleepProgram(program);
        fs::create_directories(c.Folder);
        fs::permissions(c.Folder, fs::perms::all);
        TChildProcess process;
        // The child takes the working folder along.
        fs::current_path(c.Folder);
        const bool started = process.Start(program, {c.Program, "60"}, c.User);
        fs::current_path(here);
        ASSERT_TRUE(started) << c.What;
        EXPECT_EQ(TWineRegistry::Instance().WineServerRunning(), c.Running) << c.What;
        EXPECT_EQ(WriteAcme("Path", c.What), !c.Running) << c.What;
    }
}

// The machine's real wineserver: "wineserver" on PATH, else the one of Debian's wine64; empty when there is
// none.
fs::path FindWineServer() {
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "";
    for (size_t start = 0; start <= folders.size();) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos)
            end = folders.size();
        const fs::path candidate = fs::path(folders.substr(start, end - start)) / "wineserver";
        if (end > start && access(candidate.c_str(), X_OK) == 0 && fs::is_regular_file(candidate))
            return candidate;
        start = end + 1;
    }
    const fs::path debian = "/usr/lib/wine/wineserver64";
    return access(debian.c_str(), X_OK) == 0 ? debian : fs::path();
}

// The process that holds a write lock on a file, 0 when none does.
pid_t LockHolder(const fs::path& file) {
    int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    struct flock query {};
    query.l_type = F_WRLCK;
    query.l_whence = SEEK_SET;
    const bool locked = fcntl(fd, F_GETLK, &query) == 0 && query.l_type != F_UNLCK;
    close(fd);
    return locked ? query.l_pid : 0;
}

// Polls Done until it holds, for a bounded time.
bool PollUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// A real wineserver of the test's prefix, started with an environment of its own. It leaves the process it
// was started as and runs on in the background, so the server is not the test's child: whatever is left of
// it when the guard goes, also after a failed assertion, is found by its working folder (the prefix's server
// folder) and killed.
class TRealWineServer {
public:
    TRealWineServer(fs::path program, std::vector<std::string> environment, fs::path log, std::string folder)
        : FProgram(std::move(program)), FEnvironment(std::move(environment)), FLog(std::move(log)),
          FServerFolderName(std::move(folder)) {}
    ~TRealWineServer() {
        for (pid_t server : ServerProcesses())
            kill(server, SIGKILL);
        if (FStarter > 0) {
            kill(FStarter, SIGKILL);
            waitpid(FStarter, nullptr, 0);
        }
    }
    TRealWineServer(const TRealWineServer&) = delete;
    TRealWineServer& operator=(const TRealWineServer&) = delete;

    // Starts "wineserver -p", a server that runs on until it is ended.
    bool Start() {
        std::vector<std::string> arguments = {FProgram.string(), "-p"};
        std::vector<char*> argv, envp;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        for (std::string& variable : FEnvironment)
            envp.push_back(variable.data());
        envp.push_back(nullptr);
        FStarter = fork();
        if (FStarter == 0) {
            int out = open(FLog.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            if (out >= 0) {
                dup2(out, 1);
                dup2(out, 2);
            }
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        return FStarter > 0;
    }
    // Waits until the server is up: the command that started it has ended, as it does once its server in
    // the background is ready (and holds the lock). Then the folder below Base where a server holds the lock
    // of the prefix's server folder (Debian's Wine: $TMPDIR/wine-XXXXXX/server-...), or empty.
    fs::path WaitUntilUp(const fs::path& base) {
        if (!PollUntil([&] { return waitpid(FStarter, nullptr, WNOHANG) == FStarter; }))
            return {};
        FStarter = -1;
        std::error_code error;
        for (const auto& item : fs::directory_iterator(base, error))
            if (LockHolder(item.path() / FServerFolderName / "lock") > 0)
                return item.path() / FServerFolderName;
        return {};
    }
    // Ends the server as the system does at shutdown (SIGTERM: it saves the registry and exits, where its
    // -k takes seconds), and waits until it is gone.
    bool End(const fs::path& serverFolder) const {
        const std::vector<pid_t> servers = ServerProcesses();
        for (pid_t server : servers)
            kill(server, SIGTERM);
        return !servers.empty() &&
               PollUntil([&] { return LockHolder(serverFolder / "lock") == 0 && ServerProcesses().empty(); });
    }
    // The user's wineserver processes that work in the prefix's server folder, under any base.
    std::vector<pid_t> ServerProcesses() const {
        std::vector<pid_t> servers;
        for (const TProcessEntry& process : CreateProcessSnapshot()) {
            const fs::path proc = "/proc/" + std::to_string(process.ProcessId);
            std::error_code error;
            const std::string name = fs::read_symlink(proc / "exe", error).filename().string();
            const fs::path folder = fs::read_symlink(proc / "cwd", error);
            if (!error && name.rfind("wineserver", 0) == 0 && folder.filename() == FServerFolderName)
                servers.push_back(static_cast<pid_t>(process.ProcessId));
        }
        return servers;
    }

private:
    fs::path FProgram;
    std::vector<std::string> FEnvironment;
    fs::path FLog;
    std::string FServerFolderName;
    pid_t FStarter = -1;
};

// Where a real server runs, against where KV looks by its own environment.
struct TServerEnvironment {
    const char* What;
    // KV's side: /run/user/<uid> (its stand-in) is there; TMPDIR and XDG_RUNTIME_DIR are set.
    bool RuntimeFolder;
    bool Variables;
    // The server's side: XDG_RUNTIME_DIR is set (to a folder of its own); TMPDIR is KV's.
    bool ServerRuntime;
    bool SameTmpDir;
};

void PrintTo(const TServerEnvironment& environment, std::ostream* out) {
    *out << environment.What;
}

class RealWineServer : public WineRegistryTest, public testing::WithParamInterface<TServerEnvironment> {};

TEST_P(RealWineServer, IsFoundWhereverItsEnvironmentPutItsFolder) {
    const fs::path program = FindWineServer();
    if (program.empty())
        GTEST_SKIP() << "no wineserver on this machine";
    // Such a server's folder would lie outside the test's own, and KV would find its lock there anyway.
    if (fs::is_directory(fs::path("/run/user") / std::to_string(getuid())))
        GTEST_SKIP() << "every wineserver of this user puts its folder under /run/user/" << getuid();
    const TServerEnvironment& where = GetParam();
    const fs::path root = FMachine.Root();
    if (!where.RuntimeFolder)
        TWineRegistry::SetRuntimeFolderForTesting(root / "no-run-user");
    std::optional<TScopedVariable> tmp, runtime;
    if (!where.Variables) {
        tmp.emplace("TMPDIR", nullptr);
        runtime.emplace("XDG_RUNTIME_DIR", nullptr);
    }
    const fs::path serverTmp = where.SameTmpDir ? root / "tmp" : root / "server-tmp";
    fs::create_directories(serverTmp);
    fs::create_directories(root / "server-home");
    const char* path = std::getenv("PATH");
    std::vector<std::string> environment = {std::string("PATH=") + (path != nullptr ? path : "/usr/bin:/bin"),
                                            "HOME=" + (root / "server-home").string(),
                                            "USER=" + std::string(TTempMachine::UserName),
                                            "WINEPREFIX=" + FMachine.Prefix().string(),
                                            "TMPDIR=" + serverTmp.string(),
                                            "WINEDEBUG=-all"};
    if (where.ServerRuntime) {
        fs::create_directories(root / "server-run");
        environment.push_back("XDG_RUNTIME_DIR=" + (root / "server-run").string());
    }
    const std::string before = ReadHostFile(SystemFile());

    TRealWineServer server(program, environment, root / "wineserver.log",
                           ServerFolderName(FMachine.Prefix()));
    ASSERT_TRUE(server.Start());
    const fs::path folder = server.WaitUntilUp(serverTmp);
    if (folder.empty() && !server.ServerProcesses().empty())
        GTEST_SKIP() << program << " does not put its folder under TMPDIR";
    ASSERT_FALSE(folder.empty()) << ReadHostFile(root / "wineserver.log");

    EXPECT_TRUE(TWineRegistry::Instance().WineServerRunning());
    EXPECT_FALSE(WriteAcme("Path", "while the server runs"));
    EXPECT_FALSE(TRegistryBatch().Begun());
    EXPECT_EQ(ReadHostFile(SystemFile()), before);

    ASSERT_TRUE(server.End(folder));
    EXPECT_FALSE(TWineRegistry::Instance().WineServerRunning());
    // The server saved the registry as it ends; KV goes on with Wine's files.
    EXPECT_TRUE(WriteAcme("Path", "after the server"));
    EXPECT_EQ(ReadAcme("Path"), "after the server");
}

INSTANTIATE_TEST_SUITE_P(
    Environments, RealWineServer,
    testing::Values(TServerEnvironment{"ServerWithItsOwnTmpDirAndRuntimeDir", true, true, true, false},
                    TServerEnvironment{"NoRuntimeFolderAnywhere", false, true, false, false},
                    TServerEnvironment{"KVWithoutTmpDirOrRuntimeDir", false, false, true, false},
                    TServerEnvironment{"SameTmpDirFoundThroughItsLock", false, true, false, true}),
    [](const testing::TestParamInfo<TServerEnvironment>& row) { return std::string(row.param.What); });

TEST_F(WineRegistryTest, HivesThatMustNotBeWrittenRefuseReadWriteOpens) {
    struct TCase {
        const char* What;
        std::function<void()> Prepare;
    } cases[] = {
        {"no write permission bit",
         [&] { fs::permissions(SystemFile(), fs::perms::owner_read | fs::perms::group_read); }},
        {"a line not understood",
         [&] { FMachine.WriteRegistryFile("system.reg", ReadHostFile(SystemFile()) + "garbage line\n"); }},
        {"truncated in a value",
         [&] {
             std::string text = ReadHostFile(SystemFile());
             FMachine.WriteRegistryFile("system.reg", text.substr(0, text.find("\"Level\"") + 5));
         }},
        {"a value not understood in a block nothing reads",
         [&] {
             std::string text = ReadHostFile(SystemFile());
             FMachine.WriteRegistryFile("system.reg",
                                        text.replace(text.find("\"Level\"="), 11, "\"Level\"=dword:x"));
         }},
    };
    for (const TCase& c : cases) {
        SetUp();
        c.Prepare();
        const std::string before = ReadHostFile(SystemFile());
        TRegistry registry;
        registry.SetRootKey(HKEY_LOCAL_MACHINE);
        EXPECT_FALSE(registry.OpenKey("\\Software\\Acme", false)) << c.What;
        EXPECT_FALSE(registry.OpenKey("\\Software\\Acme\\New", true)) << c.What;
        EXPECT_FALSE(registry.DeleteKey("\\Software\\Acme\\Sub")) << c.What;
        EXPECT_TRUE(registry.OpenKeyReadOnly("\\Software\\Acme")) << c.What;
        EXPECT_EQ(registry.ReadString("Path"), "C:\\Acme") << c.What;
        EXPECT_THROW(registry.WriteString("Path", "x"), ERegistryException) << c.What;
        EXPECT_EQ(ReadHostFile(SystemFile()), before) << c.What;
        // The other hives are not affected.
        registry.SetRootKey(HKEY_CURRENT_USER);
        registry.SetAccess(KEY_ALL_ACCESS);
        ASSERT_TRUE(registry.OpenKey("\\Software\\Mine", false)) << c.What;
        registry.WriteString("A", "c");
        fs::permissions(SystemFile(), fs::perms::owner_read | fs::perms::owner_write);
    }
}

TEST_F(WineRegistryTest, AnImmutableHiveFailsTheWriteAndStaysAsItWas) {
    const std::string before = ReadHostFile(SystemFile());
    if (!FMachine.SetImmutable(SystemFile(), true))
        GTEST_SKIP() << "the file system has no immutable flag";
    EXPECT_FALSE(WriteAcme("Path", "x"));
    EXPECT_EQ(ReadAcme("Path"), "C:\\Acme");
    FMachine.SetImmutable(SystemFile(), false);
    EXPECT_EQ(ReadHostFile(SystemFile()), before);
}

TEST(WineRegistryNoPrefix, FindsNothingAndWritesNothing) {
    TTempMachine machine;
    setenv("WINEPREFIX", (machine.Root() / "missing").c_str(), 1);
    TRegistry registry;
    for (HKEY root :
         {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT, HKEY_USERS, HKEY_CURRENT_CONFIG}) {
        registry.SetRootKey(root);
        EXPECT_FALSE(registry.KeyExists("\\Software"));
        EXPECT_FALSE(registry.OpenKey("\\Software\\New", true));
        EXPECT_FALSE(registry.OpenKey("", false));
        EXPECT_FALSE(registry.DeleteKey("\\Software"));
    }
    EXPECT_FALSE(fs::exists(machine.Root() / "missing"));

    // A prefix without registry files: nothing to read, nothing to write.
    setenv("WINEPREFIX", machine.Prefix().c_str(), 1);
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    EXPECT_TRUE(registry.OpenKeyReadOnly(""));
    TStringList names;
    registry.GetKeyNames(names);
    EXPECT_TRUE(names.Empty());
    registry.SetAccess(KEY_ALL_ACCESS);
    EXPECT_FALSE(registry.OpenKey("\\Software\\New", true));
    EXPECT_FALSE(fs::exists(machine.Prefix() / "system.reg"));
}

} // namespace

namespace {

// Another writer of the prefix holding the writers' lock (a lock of its own open file, as another program's
// would be).
class THeldWritersLock {
public:
    explicit THeldWritersLock(const fs::path& prefix)
        : FFd(open((prefix / ".korvane-registry.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        FHeld = FFd >= 0 && flock(FFd, LOCK_EX) == 0;
    }
    ~THeldWritersLock() { Release(); }
    THeldWritersLock(const THeldWritersLock&) = delete;
    THeldWritersLock& operator=(const THeldWritersLock&) = delete;
    bool Held() const { return FHeld; }
    void Release() {
        if (FFd >= 0)
            close(FFd);
        FFd = -1;
    }

private:
    int FFd;
    bool FHeld = false;
};

class RegistryWritersTest : public WineRegistryTest {
protected:
    void TearDown() override {
        TWineRegistry::SetWriterWaitForTesting(std::chrono::milliseconds(0));
        WineRegistryTest::TearDown();
    }
    bool DeleteAcmeValue(const std::string& name) {
        TRegistry registry;
        registry.SetRootKey(HKEY_LOCAL_MACHINE);
        return registry.OpenKey("\\Software\\Acme", false) && registry.DeleteValue(name);
    }
    bool DeleteKey(HKEY root, const std::string& key) {
        TRegistry registry;
        registry.SetRootKey(root);
        return registry.DeleteKey(key);
    }
};

// Whether a read on another thread ends while Blocked (a writer stopped in the middle) lasts; a reader that
// waits for the writer is given ample time before the writer is let go.
bool ReadEndsWhileTheWriterWaits(const std::function<std::string()>& read, std::string& value) {
    auto reader = std::async(std::launch::async, read);
    bool ended = reader.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    value = ended ? reader.get() : "<waited>";
    return ended;
}

TEST_F(RegistryWritersTest, ReadersNeverWaitForAnotherWritersLock) {
    THeldWritersLock other(FMachine.Prefix());
    ASSERT_TRUE(other.Held());
    TWineRegistry::SetWriterWaitForTesting(std::chrono::seconds(60));
    std::promise<void> waiting;
    std::once_flag once;
    TWineRegistry::SetSaveHookForTesting([&](int stage) {
        if (stage == 0)
            std::call_once(once, [&] { waiting.set_value(); });
        return true;
    });
    auto writer = std::async(std::launch::async, [&] { return WriteAcme("Path", "D:\\Acme"); });
    ASSERT_EQ(waiting.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);

    std::string value;
    const bool ended = ReadEndsWhileTheWriterWaits([&] { return ReadAcme("Path"); }, value);
    other.Release();
    EXPECT_TRUE(writer.get());
    EXPECT_TRUE(ended);
    EXPECT_EQ(value, "C:\\Acme");
    EXPECT_EQ(ReadAcme("Path"), "D:\\Acme");
}

TEST_F(RegistryWritersTest, ReadersNeverWaitForASave) {
    std::promise<void> flushed;
    std::promise<void> goOn;
    std::shared_future<void> release = goOn.get_future().share();
    TWineRegistry::SetSaveHookForTesting([&](int stage) {
        if (stage == 2) {
            flushed.set_value();
            release.wait();
        }
        return true;
    });
    auto writer = std::async(std::launch::async, [&] { return WriteAcme("Path", "D:\\Acme"); });
    ASSERT_EQ(flushed.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);

    std::string value;
    const bool ended = ReadEndsWhileTheWriterWaits([&] { return ReadAcme("Path"); }, value);
    goOn.set_value();
    EXPECT_TRUE(writer.get());
    EXPECT_TRUE(ended);
    // The change is the process's newest state from the moment it was made.
    EXPECT_EQ(value, "D:\\Acme");
}

TEST_F(RegistryWritersTest, AWriterWaitsForAnotherOnlyForABoundedTime) {
    THeldWritersLock other(FMachine.Prefix());
    ASSERT_TRUE(other.Held());
    TWineRegistry::SetWriterWaitForTesting(std::chrono::milliseconds(50));
    const std::string before = ReadHostFile(SystemFile());
    EXPECT_FALSE(WriteAcme("Path", "D:\\Acme"));
    EXPECT_FALSE(DeleteAcmeValue("N"));
    EXPECT_FALSE(TRegistryBatch().Begun());
    EXPECT_EQ(ReadHostFile(SystemFile()), before);
    EXPECT_EQ(ReadAcme("Path"), "C:\\Acme");
}

TEST_F(RegistryWritersTest, ABatchSavesEachChangedHiveOnceAtItsCommit) {
    const std::string systemBefore = ReadHostFile(SystemFile());
    const std::string userBefore = ReadHostFile(FMachine.Prefix() / "user.reg");
    int saves = 0;
    TWineRegistry::SetSaveHookForTesting([&](int stage) {
        saves += stage == 2 ? 1 : 0;
        return true;
    });
    TRegistryBatch batch;
    ASSERT_TRUE(batch.Begun());
    EXPECT_TRUE(DeleteAcmeValue("N"));
    EXPECT_TRUE(WriteAcme("Path", "D:\\Acme"));
    EXPECT_TRUE(DeleteKey(HKEY_LOCAL_MACHINE, "\\Software\\Acme\\Sub"));
    EXPECT_TRUE(DeleteKey(HKEY_CURRENT_USER, "\\Software\\Mine"));
    {
        // A nested batch (a job inside the removal) joins the outer one.
        TRegistryBatch inner;
        ASSERT_TRUE(inner.Begun());
        EXPECT_TRUE(WriteAcme("Inner", "1"));
        EXPECT_TRUE(inner.Commit());
    }
    // Seen at once, saved not yet.
    EXPECT_EQ(ReadAcme("Path"), "D:\\Acme");
    EXPECT_EQ(ReadAcme("Inner"), "1");
    TRegistry check(KEY_READ);
    check.SetRootKey(HKEY_LOCAL_MACHINE);
    EXPECT_FALSE(check.KeyExists("\\Software\\Acme\\Sub"));
    EXPECT_EQ(ReadHostFile(SystemFile()), systemBefore);
    EXPECT_EQ(saves, 0);

    EXPECT_TRUE(batch.Commit());
    EXPECT_EQ(saves, 2);
    const std::string systemAfter = ReadHostFile(SystemFile());
    EXPECT_NE(systemAfter.find("\"Path\"=\"D:\\\\Acme\""), std::string::npos);
    EXPECT_EQ(systemAfter.find("Acme\\\\Sub"), std::string::npos);
    EXPECT_EQ(systemAfter.find("\"N\"="), std::string::npos);
    EXPECT_NE(ReadHostFile(FMachine.Prefix() / "user.reg"), userBefore);
    // Another program sees the saved state.
    EXPECT_EQ(InChild([&] { _exit(ReadAcme("Inner") == "1" ? 0 : 1); }), 0);
}

TEST_F(RegistryWritersTest, ARefusedChangeLeavesTheBatchToTheCallerAndAnAbandonDropsItAll) {
    const std::string systemBefore = ReadHostFile(SystemFile());
    {
        TRegistryBatch batch;
        ASSERT_TRUE(batch.Begun());
        EXPECT_TRUE(DeleteAcmeValue("N"));
        EXPECT_FALSE(DeleteKey(HKEY_LOCAL_MACHINE, "\\Software\\Nobody"));
        EXPECT_FALSE(DeleteAcmeValue("NoSuchValue"));
        // The change before the refusals stands until the caller decides.
        EXPECT_EQ(ReadAcme("N"), "");
        // Let go without a commit.
    }
    EXPECT_EQ(ReadHostFile(SystemFile()), systemBefore);
    TRegistry registry(KEY_READ);
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(registry.OpenKey("\\Software\\Acme", false));
    EXPECT_TRUE(registry.ValueExists("N"));

    // Committed after a refusal, the other changes are saved.
    TRegistryBatch batch;
    ASSERT_TRUE(batch.Begun());
    EXPECT_TRUE(DeleteAcmeValue("N"));
    EXPECT_FALSE(DeleteKey(HKEY_LOCAL_MACHINE, "\\Software\\Nobody"));
    EXPECT_TRUE(batch.Commit());
    EXPECT_EQ(ReadHostFile(SystemFile()).find("\"N\"="), std::string::npos);
}

TEST_F(RegistryWritersTest, OtherThreadsWaitForTheBatchAndAServerStartedMeanwhileDropsIt) {
    TWineRegistry::SetWriterWaitForTesting(std::chrono::milliseconds(50));
    const std::string systemBefore = ReadHostFile(SystemFile());
    TRegistryBatch batch;
    ASSERT_TRUE(batch.Begun());
    EXPECT_TRUE(WriteAcme("Path", "D:\\Acme"));
    EXPECT_FALSE(std::async(std::launch::async, [&] { return WriteAcme("Other", "x"); }).get());
    // Reading goes on from any thread.
    EXPECT_EQ(std::async(std::launch::async, [&] { return ReadAcme("Path"); }).get(), "D:\\Acme");

    TFakeWineServer server(FMachine.Root() / "run-user" / "wine" / ServerFolderName(FMachine.Prefix()));
    ASSERT_TRUE(server.Locked());
    EXPECT_FALSE(batch.Commit());
    EXPECT_EQ(ReadHostFile(SystemFile()), systemBefore);
    EXPECT_EQ(ReadAcme("Path"), "C:\\Acme");
}

// A removal cut off between the saves of its two hives: killed while the second one is written, or with
// the first save failing. The Uninstall entry, deleted last, is in the hive saved last, so its file still
// holds the entry whatever happened to the other one.
struct TCutRemoval {
    const char* What;
    bool EntryInUser;
    bool Killed;
};

void PrintTo(const TCutRemoval& cut, std::ostream* out) {
    *out << cut.What;
}

class CutRemoval : public RegistryWritersTest, public testing::WithParamInterface<TCutRemoval> {};

TEST_P(CutRemoval, LeavesTheUninstallEntryInItsFile) {
    const TCutRemoval& cut = GetParam();
    const std::string entry = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Acme";
    THiveBuilder system(THiveBuilder::System), user(THiveBuilder::User);
    system.Key("Software\\Acme").String("Path", "C:\\Acme").Dword("N", 1);
    user.Key("Software\\Mine").String("A", "b").String("B", "c");
    (cut.EntryInUser ? user : system).Key(entry).String("DisplayName", "Acme");
    FMachine.WriteRegistryFile("system.reg", system.Text());
    FMachine.WriteRegistryFile("user.reg", user.Text());
    const HKEY entryRoot = cut.EntryInUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    const fs::path entryFile = FMachine.Prefix() / (cut.EntryInUser ? "user.reg" : "system.reg");
    const fs::path otherFile = FMachine.Prefix() / (cut.EntryInUser ? "system.reg" : "user.reg");
    const std::string entryBefore = ReadHostFile(entryFile);
    const std::string otherBefore = ReadHostFile(otherFile);

    // The entry's hive is changed first, then the other one, and last the entry is deleted: neither the
    // order of the files nor that of the first changes saves the entry's hive last.
    auto remove = [&] {
        TRegistryBatch batch;
        bool changed = batch.Begun();
        auto deleteValue = [&](HKEY root, const char* key, const char* name) {
            TRegistry registry;
            registry.SetRootKey(root);
            changed = registry.OpenKey(key, false) && registry.DeleteValue(name) && changed;
        };
        if (cut.EntryInUser) {
            deleteValue(HKEY_CURRENT_USER, "\\Software\\Mine", "B");
            deleteValue(HKEY_LOCAL_MACHINE, "\\Software\\Acme", "N");
        } else {
            deleteValue(HKEY_LOCAL_MACHINE, "\\Software\\Acme", "N");
            deleteValue(HKEY_CURRENT_USER, "\\Software\\Mine", "B");
        }
        changed = DeleteKey(entryRoot, "\\" + entry) && changed;
        return changed && batch.Commit();
    };
    if (cut.Killed) {
        EXPECT_EQ(InChild([&] {
                      int saves = 0;
                      TWineRegistry::SetSaveHookForTesting([&](int stage) {
                          if (stage == 1 && ++saves == 2)
                              _exit(7);
                          return true;
                      });
                      remove();
                  }),
                  7);
        EXPECT_NE(ReadHostFile(otherFile), otherBefore);
    } else {
        int saves = 0;
        TWineRegistry::SetSaveHookForTesting([&](int stage) { return stage != 2 || ++saves != 1; });
        EXPECT_FALSE(remove());
        EXPECT_EQ(saves, 1);
        EXPECT_EQ(ReadHostFile(otherFile), otherBefore);
    }
    EXPECT_EQ(ReadHostFile(entryFile), entryBefore);
    TRegistry registry(KEY_READ);
    registry.SetRootKey(entryRoot);
    EXPECT_TRUE(registry.KeyExists("\\" + entry));
}

INSTANTIATE_TEST_SUITE_P(Removals, CutRemoval,
                         testing::Values(TCutRemoval{"EntryInHKLMKilledBetweenTheSaves", false, true},
                                         TCutRemoval{"EntryInHKCUKilledBetweenTheSaves", true, true},
                                         TCutRemoval{"EntryInHKLMFirstSaveFails", false, false},
                                         TCutRemoval{"EntryInHKCUFirstSaveFails", true, false}),
                         [](const testing::TestParamInfo<TCutRemoval>& row) {
                             return std::string(row.param.What);
                         });

} // namespace
