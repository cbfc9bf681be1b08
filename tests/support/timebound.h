// Time bounds in tests: a wait that must end within a bound is only held to a
// generous limit (three times the bound plus 5 s), since the tests also run
// under emulators and on loaded machines; the time measured is printed, and
// precise times belong to the benchmarks.
#ifndef TIMEBOUND_H
#define TIMEBOUND_H

#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <string>

// The seconds since it was made.
struct Stopwatch {
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    double seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
};

// Prints what took how long and expects it within the generous limit of bound.
inline void expectWithin(double waited, double bound, const std::string& what) {
    std::cout << "  " << what << ": " << waited << " s (bound " << bound << " s)\n";
    EXPECT_LT(waited, 3 * bound + 5) << what;
}

#endif
