// SPDX-License-Identifier: MIT
// A shared library that the loader will not find at run time.

int exitwiseClosureAbsentValue()
{
    return 42;
}
