// SPDX-License-Identifier: MIT
// A stand-in desktop application for the process watcher's tests.
//   exitwise_test_app sleep   waits; SIGUSR1 exits normally, SIGUSR2 crashes with SIGSEGV
//   exitwise_test_app parent  the same, after starting a child of its own ("sleep")
//   exitwise_test_app exit N  writes one line to standard error and exits with code N at once,
//                             as a launch that fails in the loader does
// Prints "ready <child pid or 0>" once the signal handlers are in place.

#include <sys/mman.h>
#include <sys/prctl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace {

void exitNormally(int)
{
    _exit(0);
}

void crash(int)
{
    // No core file: a dump would only slow the exit down.
    prctl(PR_SET_DUMPABLE, 0);
    signal(SIGSEGV, SIG_DFL);
    void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    *static_cast<volatile int*>(page) = 1;
    _exit(3); // not reached
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s sleep|parent|exit N\n", argv[0]);
        return 2;
    }
    if (std::strcmp(argv[1], "exit") == 0 && argc > 2) {
        std::fprintf(stderr, "%s: exiting at once\n", argv[0]);
        return std::atoi(argv[2]);
    }
    signal(SIGUSR1, exitNormally);
    signal(SIGUSR2, crash);
    pid_t child = 0;
    if (std::strcmp(argv[1], "parent") == 0) {
        child = fork();
        if (child == 0) {
            // Only the parent's "ready" line reaches the reader.
            const int quiet = open("/dev/null", O_WRONLY);
            dup2(quiet, STDOUT_FILENO);
            execl(argv[0], argv[0], "sleep", static_cast<char*>(nullptr));
            _exit(127);
        }
    } else if (std::strcmp(argv[1], "sleep") != 0) {
        std::fprintf(stderr, "unknown command %s\n", argv[1]);
        return 2;
    }
    std::printf("ready %d\n", static_cast<int>(child));
    std::fflush(stdout);
    for (;;) {
        pause();
    }
}
