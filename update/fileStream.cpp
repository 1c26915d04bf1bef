#include "update/fileStream.h"

#include "platform/fileSystem.h"
#include "platform/processes.h"
#include "platform/sysUtils.h"
#include "platform/winePath.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

bool TFileReader::Open(const std::string& path) {
    FFile.reset();
    std::optional<fs::path> resolved = platform::ResolvePath(path);
    std::error_code error;
    if (!resolved || fs::is_directory(*resolved, error))
        return false;
    FFile.reset(std::fopen(resolved->c_str(), "rb"));
    return FFile != nullptr;
}

size_t TFileReader::Read(void* buffer, size_t size) {
    return FFile ? std::fread(buffer, 1, size, FFile.get()) : 0;
}

bool TFileReader::Failed() const {
    return !FFile || std::ferror(FFile.get()) != 0;
}

TFileReplacer::~TFileReplacer() {
    Abandon();
}

namespace {

// Removes the temporary files that writers to Target left when they died before their commit (a crash, a
// kill): their names carry the writer's process number, and a live writer's are kept.
void RemoveDeadWritersFiles(const std::string& target, const std::string& prefix) {
    const std::string folder = platform::ExtractFilePath(target);
    std::vector<std::pair<std::string, uint32_t>> left;
    for (const platform::TFindData& found : platform::FindFiles(folder + prefix + "*")) {
        const std::string tail = found.Name.substr(prefix.size());
        const size_t dash = tail.find('-');
        uint32_t writer = 0;
        if (dash != std::string::npos &&
            std::from_chars(tail.data(), tail.data() + dash, writer).ptr == tail.data() + dash)
            left.emplace_back(found.Name, writer);
    }
    // The processes are looked at only when something was left, which is seldom.
    if (left.empty())
        return;
    std::vector<uint32_t> running;
    for (const platform::TProcessEntry& process : platform::CreateProcessSnapshot())
        running.push_back(process.ProcessId);
    for (const auto& [name, writer] : left)
        if (std::find(running.begin(), running.end(), writer) == running.end())
            platform::DeleteFile(folder + name);
}

} // namespace

bool TFileReplacer::Open(const std::string& target) {
    Abandon();
    std::optional<fs::path> resolved = platform::ResolvePath(target);
    if (!resolved || !resolved->has_filename())
        return false;
    const std::string prefix = "." + resolved->filename().string() + ".part-";
    RemoveDeadWritersFiles(target, prefix);
    // Unique among the writers of this and other processes; an existing name is stepped over.
    static std::atomic<unsigned> counter{0};
    const std::string self = std::to_string(platform::GetCurrentProcessId());
    for (int attempt = 0; attempt < 100 && !FFile; ++attempt) {
        fs::path temporary =
            resolved->parent_path() / (prefix + self + "-" + std::to_string(counter.fetch_add(1)));
        FFile.reset(std::fopen(temporary.c_str(), "wbx"));
        if (FFile)
            FTemporary = temporary.string();
        else if (errno != EEXIST)
            return false;
    }
    FTarget = resolved->string();
    FFailed = false;
    FStream.clear();
    return FFile != nullptr;
}

bool TFileReplacer::Write(const void* data, size_t size) {
    if (!FFile || FFailed)
        return false;
    if (size > 0 && std::fwrite(data, 1, size, FFile.get()) != size)
        FFailed = true;
    return !FFailed;
}

bool TFileReplacer::Commit() {
    if (!FFile)
        return false;
    bool written = !FFailed && FStream.good() && std::fflush(FFile.get()) == 0;
    written = std::fclose(FFile.release()) == 0 && written;
    std::error_code error;
    // The old file goes first: ext4 flushes a file renamed over another at once, which would make every
    // replacement wait for the disk. A crash in between leaves no Target, never a torn one.
    if (written) {
        if (!fs::is_directory(FTarget, error))
            fs::remove(FTarget, error);
        fs::rename(FTemporary, FTarget, error);
    }
    if (!written || error) {
        fs::remove(FTemporary, error);
        FTemporary.clear();
        return false;
    }
    FTemporary.clear();
    return true;
}

void TFileReplacer::Abandon() {
    FFile.reset();
    if (!FTemporary.empty()) {
        std::error_code error;
        fs::remove(FTemporary, error);
        FTemporary.clear();
    }
}
