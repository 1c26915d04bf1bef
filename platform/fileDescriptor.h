#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>

// Descriptor plumbing for the platform's own sources: the one place that loops over short reads and writes
// and interrupted calls, and that replaces a file without ever showing a reader part of it. Not for the
// layers above, which reach files only through the platform's Windows-like functions.
namespace platform {

// Owns an open descriptor and closes it when it goes out of scope.
class TFileDescriptor {
public:
    explicit TFileDescriptor(int fd = -1) : FFd(fd) {}
    ~TFileDescriptor() { Reset(); }
    TFileDescriptor(const TFileDescriptor&) = delete;
    TFileDescriptor& operator=(const TFileDescriptor&) = delete;
    TFileDescriptor(TFileDescriptor&& other) noexcept : FFd(other.FFd) { other.FFd = -1; }
    TFileDescriptor& operator=(TFileDescriptor&& other) noexcept;

    int Get() const { return FFd; }
    bool Valid() const { return FFd >= 0; }
    // Closes now and reports whether the close succeeded (a late write error shows here).
    bool Close();

private:
    void Reset();
    int FFd;
};

// Reads from the descriptor's position to its end. Content is changed only when the whole read succeeds.
bool ReadAll(int fd, std::string& content);

// The same for a file whose size is known (from fstat): one buffer of that size is read into, so a large
// file is neither copied nor grown on the way; a file that grew meanwhile is still read to its end.
bool ReadAll(int fd, std::string& content, uint64_t expectedSize);

// Makes the memory pages of a fresh buffer present in one call, where touching them one by one would take a
// page fault each (dear on a virtual machine), in huge pages where the buffer holds one whole. Only a large
// buffer is worth it; a kernel that cannot do it leaves the pages to come one by one. The pages at either
// end may be shared with other memory: neither advice changes what any page holds.
void PopulatePages(void* data, size_t size);

// Reads exactly Count bytes at Offset; false when the file ends before them or a read fails.
bool ReadAllAt(int fd, uint64_t offset, void* buffer, size_t count);

// Writes every byte, however many writes that takes.
bool WriteAll(int fd, std::string_view data);

// Copies from the source's position to its end into the destination, a chunk at a time.
bool CopyAll(int sourceFd, int destinationFd);

// How ReplaceFileAtomically fills and finishes the new file.
struct TReplacement {
    // Writes the content into the new file and gives it the permissions it is to have.
    std::function<bool(int fd)> Fill;
    // Called when the new file is complete, flushed and closed, just before it takes the old one's place;
    // false fails the replacement there. May be empty.
    std::function<bool()> BeforeRename;
    // The permissions the new file is created with, before Fill changes them.
    mode_t CreationMode = 0666;
    // Also flush the folder after the rename, so that the replacement itself survives a power cut.
    bool SyncFolder = false;
};

// Replaces the file Name in the folder FolderFd: a new file, named TemporaryPrefix and a unique tail, is made
// beside it, filled, flushed and renamed over Name, so that a reader sees the old file or the new one whole,
// never part of either. On failure the new file is removed and Name is left as it was.
bool ReplaceFileAtomically(int folderFd, const std::string& name, const std::string& temporaryPrefix,
                           const TReplacement& how);

} // namespace platform
