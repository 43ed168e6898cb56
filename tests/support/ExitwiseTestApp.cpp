// SPDX-License-Identifier: MIT
// A stand-in desktop application for the process watcher's tests.
//   exitwise_test_app sleep   waits; SIGUSR1 exits normally, SIGUSR2 crashes with SIGSEGV

#include <sys/mman.h>
#include <sys/prctl.h>

#include <cstdio>
#include <cstring>
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
    if (argc != 2 || std::strcmp(argv[1], "sleep") != 0) {
        std::fprintf(stderr, "usage: %s sleep\n", argv[0]);
        return 2;
    }
    signal(SIGUSR1, exitNormally);
    signal(SIGUSR2, crash);
    for (;;) {
        pause();
    }
}
