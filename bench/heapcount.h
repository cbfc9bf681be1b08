// Live heap bytes of the whole process (every library's malloc included), and
// their peak since the last reset. Counted by heapcount.cpp, which replaces
// malloc and its relatives in a program built without sanitizers; elsewhere
// active() is false and the counts stay zero.
#ifndef HEAPCOUNT_H
#define HEAPCOUNT_H

#include <cstddef>
#include <functional>

namespace heapcount {

bool active();
size_t live();
size_t peak();
// The peak starts again from what is live now.
void resetPeak();

// How far the live bytes rose above their level at the start while work ran.
inline size_t peakDuring(const std::function<void()>& work) {
    const size_t start = live();
    resetPeak();
    work();
    return peak() - start;
}

}  // namespace heapcount

#endif
