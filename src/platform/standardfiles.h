#pragma once

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that the next file the
// program opens (a signal pipe, a report, a port) never becomes its standard input, output or
// error by accident. Meant to be the first thing main() does; uses nothing but system calls.
void openMissingStandardFiles();
