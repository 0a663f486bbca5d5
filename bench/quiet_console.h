#pragma once
// Benchmarks of code that prints console rows: the rows go nowhere, the results to standard
// error, so the figures are not a measure of the terminal.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <iostream>

namespace bench {

// Runs every registered benchmark; false when standard output could not be silenced.
inline bool RunWithQuietConsole(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!std::freopen("/dev/null", "w", stdout)) {
        std::perror("benchmark: /dev/null");
        return false;
    }
    benchmark::ConsoleReporter reporter;
    reporter.SetOutputStream(&std::cerr);
    reporter.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return true;
}

}  // namespace bench
