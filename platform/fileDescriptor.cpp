#include "platform/fileDescriptor.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace platform {

TFileDescriptor& TFileDescriptor::operator=(TFileDescriptor&& other) noexcept {
    if (this != &other) {
        Reset();
        FFd = other.FFd;
        other.FFd = -1;
    }
    return *this;
}

bool TFileDescriptor::Close() {
    int fd = FFd;
    FFd = -1;
    return fd < 0 || close(fd) == 0;
}

void TFileDescriptor::Reset() {
    if (FFd >= 0)
        close(FFd);
    FFd = -1;
}

namespace {

// Hands each chunk read from the descriptor's position to its end to Take, which may stop the read.
template <typename TTake> bool ReadChunks(int fd, TTake take) {
    char buffer[65536];
    for (;;) {
        ssize_t got = read(fd, buffer, sizeof(buffer));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (got == 0)
            return true;
        if (!take(std::string_view(buffer, static_cast<size_t>(got))))
            return false;
    }
}

} // namespace

bool ReadAll(int fd, std::string& content) {
    std::string result;
    if (!ReadChunks(fd, [&result](std::string_view chunk) {
            result.append(chunk);
            return true;
        }))
        return false;
    content = std::move(result);
    return true;
}

void PopulatePages(void* data, size_t size) {
    static const auto PageSize = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<uintptr_t>(data) & ~(PageSize - 1);
    const auto end = (reinterpret_cast<uintptr_t>(data) + size + PageSize - 1) & ~(PageSize - 1);
    madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
    madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
}

bool ReadAll(int fd, std::string& content, uint64_t expectedSize) {
    static constexpr uint64_t PopulatedSize = 256 * 1024;
    std::string result;
    if (expectedSize >= PopulatedSize) {
        result.reserve(static_cast<size_t>(expectedSize));
        PopulatePages(result.data(), static_cast<size_t>(expectedSize));
    }
    result.resize(static_cast<size_t>(expectedSize));
    size_t done = 0;
    while (done < result.size()) {
        ssize_t got = read(fd, result.data() + done, result.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            break;
        done += static_cast<size_t>(got);
    }
    result.resize(done);
    // A file that was shortened ended early; one that grew goes on past the size it had.
    if (done == expectedSize && !ReadChunks(fd, [&result](std::string_view chunk) {
            result.append(chunk);
            return true;
        }))
        return false;
    content = std::move(result);
    return true;
}

bool CopyAll(int sourceFd, int destinationFd) {
    return ReadChunks(sourceFd,
                      [destinationFd](std::string_view chunk) { return WriteAll(destinationFd, chunk); });
}

bool ReadAllAt(int fd, uint64_t offset, void* buffer, size_t count) {
    auto* out = static_cast<char*>(buffer);
    while (count > 0) {
        ssize_t got = pread(fd, out, count, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        out += got;
        offset += static_cast<uint64_t>(got);
        count -= static_cast<size_t>(got);
    }
    return true;
}

bool WriteAll(int fd, std::string_view data) {
    const char* next = data.data();
    size_t size = data.size();
    while (size > 0) {
        ssize_t written = write(fd, next, size);
        if (written < 0 && errno == EINTR)
            continue;
        // A write that takes nothing would take nothing again: stop rather than loop.
        if (written <= 0)
            return false;
        next += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

bool ReplaceFileAtomically(int folderFd, const std::string& name, const std::string& temporaryPrefix,
                           const TReplacement& how) {
    // Unique among the threads and processes writing; a name left by a dead writer whose process number
    // came back is stepped over, not failed on.
    static std::atomic<unsigned> counter{0};
    std::string temporary;
    TFileDescriptor out;
    for (int attempt = 0; attempt < 100 && !out.Valid(); ++attempt) {
        temporary = temporaryPrefix + std::to_string(getpid()) + "-" + std::to_string(counter.fetch_add(1));
        out = TFileDescriptor(
            openat(folderFd, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, how.CreationMode));
        if (!out.Valid() && errno != EEXIST)
            return false;
    }
    if (!out.Valid())
        return false;
    bool written = (!how.Fill || how.Fill(out.Get())) && fsync(out.Get()) == 0;
    written = out.Close() && written;
    written = written && (!how.BeforeRename || how.BeforeRename());
    if (!written || renameat(folderFd, temporary.c_str(), folderFd, name.c_str()) != 0) {
        unlinkat(folderFd, temporary.c_str(), 0);
        return false;
    }
    if (how.SyncFolder)
        fsync(folderFd);
    return true;
}

} // namespace platform
