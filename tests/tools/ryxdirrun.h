// The tool's tests run it through the shared program runner.
#ifndef RYXDIRRUN_H
#define RYXDIRRUN_H

#include "runprogram.h"

namespace ryxdirrun = spawntest;

#endif
