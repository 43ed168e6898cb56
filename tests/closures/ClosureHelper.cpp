// SPDX-License-Identifier: MIT
// A helper process that crashes shortly after it starts.

#include <chrono>
#include <cstdlib>
#include <thread>

int main()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    *static_cast<volatile int*>(nullptr) = 1;
    return EXIT_FAILURE;
}
