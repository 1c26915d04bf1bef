// Ends the updater with SIGKILL at random moments of its run, over and over, while it downloads, unpacks and
// puts new program and database files in place: after every run each file of the program folder must be
// its old version or its new one, whole.
#include "support/childProcess.h"
#include "support/hostFiles.h"
#include "support/loopbackServer.h"
#include "support/scopedVariable.h"
#include "support/tempMachine.h"
#include "support/updateFiles.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <random>
#include <sstream>
#include <thread>
#include <zlib.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Bytes that tell versions and positions apart, so that a torn file never equals either version.
std::string Version(const std::string& tag, size_t size) {
    std::string data;
    data.reserve(size + 32);
    for (size_t block = 0; data.size() < size; ++block)
        data += tag + ":" + std::to_string(block) + ";";
    data.resize(size);
    return data;
}

struct TFileVersions {
    const char* Name;
    std::string Old;
    std::string New;
};

class KillDuringRunTest : public testing::Test {
protected:
    void SetUp() override {
        Files = {{"KV.exe", Version("old program", 3 << 20), Version("new program", 3 << 20)},
                 {"KV.dat", Version("old data", 6 << 20), Version("new data", 6 << 20)},
                 {"soft.dat", Version("old soft", 6 << 20), Version("new soft", 6 << 20)},
                 {"Settings.ini", "[Settings]\r\nDelete Update=1\r\n", "[Settings]\r\nDelete Update=1\r\n"}};
        Server.Answer("/p.exe", Files[0].New);
        Server.Answer("/d.dat", Packed(Files[1].New, 1));
        Server.Answer("/s.dat", Packed(Files[2].New, 1));
        Server.Answer("/communicate.php", "System=Rudarorovod\r\nCommand=Update\r\n\r\nResult=1\r\n\r\n\r\n" +
                                              Server.Url("/p.exe") + "\r\n" + Server.Url("/d.dat") + "\r\n" +
                                              Server.Url("/s.dat") + "\r\n" + Md5Text(Files[0].New) + "\r\n" +
                                              Md5Text(Files[1].New) + "\r\n" + Md5Text(Files[2].New) +
                                              "\r\n");
    }

    void ResetProgramFolder() const {
        std::error_code error;
        fs::remove_all(Machine.ProgramFolder(), error);
        fs::create_directories(Machine.ProgramFolder());
        for (const TFileVersions& file : Files)
            Machine.WriteHostFile(Machine.ProgramFolder() / file.Name, file.Old);
    }

    // Runs the updater, killed after Delay (none: to its end); the run's time.
    std::chrono::milliseconds RunOnce(std::optional<std::chrono::microseconds> delay) const {
        TChildProcess runner;
        auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(runner.Start(KORVANE_UPDATE_RUNNER, {"updateRunner", Machine.ProgramFolder().string()}));
        if (delay) {
            std::this_thread::sleep_for(*delay);
            kill(runner.Id(), SIGKILL);
        }
        for (int i = 0; i < 6000 && runner.Running(); ++i)
            std::this_thread::sleep_for(10ms);
        runner.ReapKilled();
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                     start);
    }

    TTempMachine Machine;
    TLoopbackServer Server;
    TScopedVariable ServerVariable{"KORVANE_SERVER_URL", Server.Url("/communicate.php").c_str()};
    std::vector<TFileVersions> Files;
};

TEST_F(KillDuringRunTest, EveryFileIsOldOrNewWhole) {
    // A run to its end installs every new file.
    ResetProgramFolder();
    const std::chrono::milliseconds whole = RunOnce(std::nullopt);
    for (const TFileVersions& file : Files)
        ASSERT_EQ(ReadHostFile(Machine.ProgramFolder() / file.Name), file.New) << file.Name;

    std::mt19937 random(20261210);
    std::uniform_int_distribution<long long> moment(0, std::chrono::microseconds(whole).count() * 6 / 5);
    int mixed = 0;
    int allNew = 0;
    int leftovers = 0;
    constexpr int Runs = 40;
    for (int run = 0; run < Runs; ++run) {
        ResetProgramFolder();
        RunOnce(std::chrono::microseconds(moment(random)));
        int fresh = 0;
        for (const TFileVersions& file : Files) {
            const std::string content = ReadHostFile(Machine.ProgramFolder() / file.Name);
            ASSERT_TRUE(content == file.Old || content == file.New)
                << file.Name << " is torn after run " << run;
            fresh += content == file.New && file.New != file.Old ? 1 : 0;
        }
        mixed += fresh > 0 && fresh < 3 ? 1 : 0;
        // A copy cut off before its rename leaves its hidden temporary file behind, never a torn target.
        for (const auto& entry : fs::directory_iterator(Machine.ProgramFolder()))
            leftovers += entry.path().filename().string().starts_with(".") ? 1 : 0;
        allNew += fresh == 3 ? 1 : 0;
    }
    std::printf("a whole run took %lld ms; of %d killed runs %d ended between replacements, %d after all; "
                "%d temporary copies left behind\n",
                static_cast<long long>(whole.count()), Runs, mixed, allNew, leftovers);
}

} // namespace
