#include "support/fileSizeLimit.h"

TFileSizeLimit::TFileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &FSaved);
    FSavedHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit limit = FSaved;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
}

TFileSizeLimit::~TFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &FSaved);
    signal(SIGXFSZ, FSavedHandler);
}
