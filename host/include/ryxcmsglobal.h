// Guard object that keeps the toolkit's global state (trace, library manager,
// OpenSSL) alive while a library that uses it is loaded.
#ifndef RYXCMSGLOBAL_H
#define RYXCMSGLOBAL_H

#include "ryxexport.h"

class RYX_EXPORT RYXCMSGlobal {
  public:
    RYXCMSGlobal();
    ~RYXCMSGlobal();
    RYXCMSGlobal(const RYXCMSGlobal&) = delete;
    RYXCMSGlobal& operator=(const RYXCMSGlobal&) = delete;
    // Number of live guards.
    static int useCount();
};

#endif
