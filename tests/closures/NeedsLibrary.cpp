// SPDX-License-Identifier: MIT
// A program linked to a library that is not installed: the loader stops it before main.

int exitwiseClosureAbsentValue();

int main()
{
    return exitwiseClosureAbsentValue() == 42 ? 0 : 1;
}
