#pragma once

#include <csignal>
#include <sys/resource.h>

namespace tarnwell::test {

// While it lives, a write that would make a file larger than `bytes` fails
// (EFBIG) part way, as a full disc makes it fail, instead of killing the
// process with SIGXFSZ.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGXFSZ, &ignore, &previousSignal_);
        ::getrlimit(RLIMIT_FSIZE, &previousLimit_);
        struct rlimit limit = previousLimit_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &previousLimit_);
        ::sigaction(SIGXFSZ, &previousSignal_, nullptr);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    struct sigaction previousSignal_ {};
    struct rlimit previousLimit_ {};
};

}  // namespace tarnwell::test
