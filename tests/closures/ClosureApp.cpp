// SPDX-License-Identifier: MIT
// A desktop application that ends a chosen way, for the real-closure suite.
//   exitwise_closure_app MODE DELAY_MS [HELPER]
// It runs for DELAY_MS, then: segv, bus, ill, fpe, trap, abort (a failed assert), throw (an
// uncaught exception), exit0, exit1, oom (allocates until a memory limit ends it), helper
// (starts HELPER, which crashes, reports it and exits 1) or wait (until a signal ends it).

#undef NDEBUG
#include <sys/mman.h>
#include <sys/wait.h>

#include <cassert>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

[[noreturn]] void segv()
{
    *static_cast<volatile int*>(nullptr) = 1;
    std::abort();
}

[[noreturn]] void bus()
{
    // A mapping past the end of an empty file faults with SIGBUS.
    char path[] = "/tmp/exitwise-bus-XXXXXX";
    const int fd = mkstemp(path);
    unlink(path);
    auto* page = static_cast<volatile char*>(mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
    page[0] = 1;
    std::abort();
}

int quotient()
{
    // Both operands unknown to the compiler, so the division is really done.
    static volatile int dividend = 7;
    static volatile int divisor = 0;
    return dividend / divisor;
}

int helper(const char* program)
{
    const pid_t child = fork();
    if (child == 0) {
        execl(program, program, static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFSIGNALED(status)) {
        // As GLib words it (g_spawn_check_wait_status), which many applications log as is.
        std::fprintf(stderr, "notes: the sync helper failed: Child process killed by signal %d\n",
                     WTERMSIG(status));
    }
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s MODE DELAY_MS [HELPER]\n", argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    std::printf("notes: started (%s)\n", mode.c_str());
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[2])));

    if (mode == "segv") {
        segv();
    } else if (mode == "bus") {
        bus();
    } else if (mode == "ill") {
        __builtin_trap();
    } else if (mode == "fpe") {
        std::printf("%d\n", quotient());
    } else if (mode == "trap") {
        std::raise(SIGTRAP);
    } else if (mode == "abort") {
        assert(mode == "a mode that is never given");
    } else if (mode == "throw") {
        throw std::runtime_error("document model is inconsistent");
    } else if (mode == "exit0") {
        return 0;
    } else if (mode == "exit1") {
        std::fprintf(stderr, "notes: cannot open the document store\n");
        return 1;
    } else if (mode == "oom") {
        std::vector<char*> blocks;
        for (;;) {
            auto* block = static_cast<char*>(std::malloc(1 << 20));
            if (block != nullptr) {
                std::memset(block, 1, 1 << 20);
                blocks.push_back(block);
            }
        }
    } else if (mode == "helper" && argc > 3) {
        return helper(argv[3]);
    } else if (mode == "wait") {
        for (;;) {
            pause();
        }
    }
    std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
    return 2;
}
