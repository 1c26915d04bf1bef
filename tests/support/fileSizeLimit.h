#pragma once

#include <csignal>
#include <sys/resource.h>

// While it lives, the largest file this process may write is Bytes: a write beyond it fails as on a full
// disk (EFBIG, with SIGXFSZ ignored). Pipes and terminals are not files, so test output is not affected.
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t bytes);
    ~TFileSizeLimit();
    TFileSizeLimit(const TFileSizeLimit&) = delete;
    TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

private:
    rlimit FSaved{};
    sighandler_t FSavedHandler = SIG_DFL;
};
