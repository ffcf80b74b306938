// Start-up marks for the start-up benchmark (scripts/bench_startup.py).
#pragma once

// With VERBANOR_TIMING naming a file (a Windows path), appends one line
// "<unix time> <pid> <what>" to it; the first mark of a process writes the
// process's creation time first, as "process". Without the variable a mark
// costs one look at the environment, made once per process.
void TimingMark(const char *what);
