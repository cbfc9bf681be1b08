// Exit statuses of ryxdir and the failure that carries one to main.
#ifndef RYXDIR_STATUS_H
#define RYXDIR_STATUS_H

#include <string>

#include "cmdline.h"

namespace ryxdir {

enum ExitStatus {
    EXIT_FOUND = 0,       // objects written, connection valid, certificate valid
    EXIT_NONE = 1,        // the directory answered but held nothing to return
    EXIT_USAGE = 2,       // bad command line or argument
    EXIT_PLUGIN = 3,      // the plug-in could not be loaded or made no manager
    EXIT_DIRECTORY = 4,   // a directory operation failed
    EXIT_OUTPUT = 5,      // output could not be written
    EXIT_INVALID = 6,     // certificate invalid (revoked, expired, bad signature, ...)
    EXIT_NO_PATH = 7,     // no path to a trust anchor
    EXIT_REVOCATION = 8,  // revocation status unavailable
    // publish: what it refuses to write.
    EXIT_MALFORMED = 9,  // the file holds no well-formed DER list or certificate
    EXIT_SIGNATURE =
        10,  // the list's signature does not verify with a CA certificate of its issuer
    EXIT_NOT_NEWER = 11,  // the list's number is not greater than that of the list it replaces
    EXIT_EXPIRED = 12,    // the list is past its next update
};

// Ends the command with a status and a one-line message for standard error.
using Failure = cmdline::Failure;

[[noreturn]] inline void fail(int status, const std::string& message) {
    throw Failure{status, message};
}

[[noreturn]] inline void usageError(const std::string& message) {
    throw Failure{EXIT_USAGE, message};
}

}  // namespace ryxdir

#endif
