#pragma once

#include <cstdint>
#include <filesystem>

namespace platform {

// A cheap way to learn that a place may have changed, for the few places that are asked about very often
// (the registry files, the drive links). It uses the kernel's change notification: asking costs one read of
// the notification descriptor for every watch together, where checking each place costs a stat of its path.
//
// A stamp says only "certainly unchanged since that stamp" (the same value again) or "maybe changed" (another
// value); after a change the caller still checks the place itself. The kernel queues a notification within
// the call that makes the change, so a change that another process has finished is seen by the next ask.
//
// A folder's watch sees its entries created, deleted, renamed, written or changed in their attributes, and
// the folder itself moved or deleted. A file's watch sees its content and attributes changed, through any of
// its names, and its name in its folder created, deleted or renamed. A move of a folder further up is not
// seen. Where the kernel gives no notification (none at all, a watch limit reached, events lost), the stamp
// is 0, which means "check every time".
using TChangeStamp = uint64_t;

// Starts watching Path (a folder or a file; once per path for the process) and returns the watch's number:
// 0 where it cannot be watched. A file that does not exist yet can be watched while its folder exists.
int WatchForChanges(const std::filesystem::path& path);

// Takes in the notifications that arrived and gives watch Id's current stamp (0 where it cannot tell).
TChangeStamp ChangeStamp(int id);

} // namespace platform
