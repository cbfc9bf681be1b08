// The heap a piece of work takes at its peak, over the whole process (every
// library's malloc included). Counted by heapcount.cpp, which replaces malloc
// and its relatives in a program built without sanitizers; elsewhere active()
// is false and nothing is counted. Outside peakDuring the replacements only
// pass calls on, so that timed work pays nothing for the count.
#ifndef HEAPCOUNT_H
#define HEAPCOUNT_H

#include <cstddef>
#include <functional>

namespace heapcount {

bool active();

// How far the heap in use rose above its level at the start while work ran
// (blocks allocated before and freed during the work count as negative).
// Not for work that runs while another thread allocates.
size_t peakDuring(const std::function<void()>& work);

}  // namespace heapcount

#endif
