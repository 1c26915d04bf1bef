#include "platform/changeWatch.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <pthread.h>
#include <string>
#include <sys/inotify.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace fs = std::filesystem;

namespace platform {

namespace {

// One mask for every kernel watch: the kernel keeps one watch per inode, and adding a watch again with
// another mask would replace the first one's.
constexpr uint32_t WatchedEvents = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO |
                                   IN_CREATE | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
constexpr uint32_t FileEvents = WatchedEvents & ~IN_ONLYDIR;
// Events that concern the watched inode itself, not an entry of a folder.
constexpr uint32_t SelfEvents = IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT;
// Events of a folder after which one of its names may mean another inode.
constexpr uint32_t NameEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;

// One watched place: a folder, or a file (seen through its folder's watch, filtered by its name, and through
// a watch of its own inode, which catches writes through another name).
struct TPlace {
    fs::path Path;
    fs::path Folder;  // a file's folder; empty for a folder
    std::string Name; // a file's name in Folder
    int FolderDescriptor = -1;
    int FileDescriptor = -1;
    TChangeStamp Stamp = 0;
    bool Repoint = true; // the kernel watches must be (re)made before the next answer
};

class TWatcher {
public:
    TWatcher() { pthread_atfork(&TWatcher::Prepare, &TWatcher::Parent, &TWatcher::Child); }

    int Watch(const fs::path& path) {
        std::lock_guard<std::mutex> guard(FMutex);
        for (size_t i = 0; i < FPlaces.size(); ++i)
            if (FPlaces[i].Path == path)
                return static_cast<int>(i) + 1;
        TPlace place;
        place.Path = path;
        std::error_code error;
        if (!fs::is_directory(path, error)) {
            place.Folder = path.parent_path();
            place.Name = path.filename().string();
            if (place.Name.empty())
                return 0;
        }
        FPlaces.push_back(std::move(place));
        return static_cast<int>(FPlaces.size());
    }

    TChangeStamp Stamp(int id) {
        std::lock_guard<std::mutex> guard(FMutex);
        if (id <= 0 || static_cast<size_t>(id) > FPlaces.size() || !Ready())
            return 0;
        Drain();
        if (FLost)
            return 0;
        TPlace& place = FPlaces[static_cast<size_t>(id) - 1];
        if (place.Repoint && !Point(place))
            return 0;
        return place.Stamp;
    }

    static TWatcher& Instance();

private:
    static void Prepare() { Instance().FMutex.lock(); }
    static void Parent() { Instance().FMutex.unlock(); }
    // A child shares the parent's descriptor, and reading it would take the parent's notifications: it makes
    // its own, and checks every place again.
    static void Child() {
        TWatcher& watcher = Instance();
        if (watcher.FNotify >= 0)
            close(watcher.FNotify);
        watcher.FNotify = -1;
        watcher.FLost = false;
        watcher.FSubscribers.clear();
        for (TPlace& place : watcher.FPlaces)
            watcher.Forget(place);
        watcher.FMutex.unlock();
    }

    bool Ready() {
        if (FNotify < 0 && !FLost) {
            FNotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
            if (FNotify < 0)
                FLost = true;
        }
        return FNotify >= 0;
    }

    void Bump(TPlace& place) { place.Stamp = ++FCounter; }

    void Forget(TPlace& place) {
        place.FolderDescriptor = -1;
        place.FileDescriptor = -1;
        place.Repoint = true;
        Bump(place);
    }

    void Subscribe(int descriptor, size_t index) {
        std::vector<size_t>& subscribers = FSubscribers[descriptor];
        for (size_t existing : subscribers)
            if (existing == index)
                return;
        subscribers.push_back(index);
    }

    // Makes the kernel watches of a place; a file that does not exist is watched through its folder alone.
    bool Point(TPlace& place) {
        const size_t index = static_cast<size_t>(&place - FPlaces.data());
        const bool isFile = !place.Name.empty();
        const int folder =
            inotify_add_watch(FNotify, (isFile ? place.Folder : place.Path).c_str(), WatchedEvents);
        if (folder < 0)
            return false;
        place.FolderDescriptor = folder;
        Subscribe(folder, index);
        if (isFile) {
            place.FileDescriptor = inotify_add_watch(FNotify, place.Path.c_str(), FileEvents);
            if (place.FileDescriptor >= 0)
                Subscribe(place.FileDescriptor, index);
            else if (errno != ENOENT && errno != ENOTDIR)
                return false;
        }
        place.Repoint = false;
        Bump(place);
        return true;
    }

    void Drain() {
        alignas(inotify_event) char buffer[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
        for (;;) {
            const ssize_t length = read(FNotify, buffer, sizeof buffer);
            if (length < 0) {
                if (errno == EINTR)
                    continue;
                if (errno != EAGAIN)
                    FLost = true;
                return;
            }
            for (ssize_t at = 0; at < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                Take(*event);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

    void Take(const inotify_event& event) {
        if (event.mask & IN_Q_OVERFLOW) {
            for (TPlace& place : FPlaces)
                Forget(place);
            return;
        }
        const auto found = FSubscribers.find(event.wd);
        if (found == FSubscribers.end())
            return;
        const std::string_view name = event.len ? std::string_view(event.name) : std::string_view();
        for (size_t index : found->second) {
            TPlace& place = FPlaces[index];
            const bool self = (event.mask & SelfEvents) != 0;
            if (place.Name.empty() || event.wd == place.FileDescriptor) {
                // A folder's entry, or the file's own inode.
                if (self)
                    Forget(place);
                else
                    Bump(place);
            } else if (event.wd == place.FolderDescriptor && (self || name == place.Name)) {
                // The file's folder went away, or the file's name may now mean another inode.
                if (self || (event.mask & NameEvents))
                    Forget(place);
                else
                    Bump(place);
            }
        }
        if (event.mask & IN_IGNORED)
            FSubscribers.erase(found);
    }

    std::mutex FMutex;
    int FNotify = -1;
    bool FLost = false; // notifications failed: every answer is 0 from now on
    TChangeStamp FCounter = 0;
    std::vector<TPlace> FPlaces;
    std::unordered_map<int, std::vector<size_t>> FSubscribers; // kernel watch -> places
};

TWatcher& TWatcher::Instance() {
    // Never destroyed: callers in other static objects may ask while the program ends.
    static TWatcher* watcher = new TWatcher;
    return *watcher;
}

} // namespace

int WatchForChanges(const fs::path& path) {
    return TWatcher::Instance().Watch(path);
}

TChangeStamp ChangeStamp(int id) {
    return TWatcher::Instance().Stamp(id);
}

} // namespace platform
