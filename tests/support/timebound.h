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

class Stopwatch {
  public:
    double seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    }

  private:
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

inline double generousLimit(double bound) {
    return 3 * bound + 5;
}

// Prints what took how long and expects it within the generous limit of bound.
inline void expectWithin(double waited, double bound, const std::string& what) {
    std::cout << "  " << what << ": " << waited << " s (bound " << bound << " s)\n";
    EXPECT_LT(waited, generousLimit(bound)) << what;
}

#endif
