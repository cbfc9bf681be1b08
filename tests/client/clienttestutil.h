// The shared trace and exception helpers as the client's unit tests name them.
#ifndef CLIENTTESTUTIL_H
#define CLIENTTESTUTIL_H

#include "expectthrows.h"
#include "ryxexception.h"
#include "tracecapture.h"

namespace clienttest {

using tracetest::entryRec;
using tracetest::errorRec;
using tracetest::exitRec;
using tracetest::Record;
using tracetest::throwsError;
using tracetest::TraceCapture;

}  // namespace clienttest

#endif
