// ryxlab's command line: its commands, options and what its help and man page
// tell, in the tables of the command-line core.
#ifndef RYXLAB_CLI_H
#define RYXLAB_CLI_H

#include "cmdline.h"

namespace ryxlab {

// Exit statuses, one per kind of outcome.
enum ExitStatus {
    EXIT_OK = 0,           // started, stopped, or running
    EXIT_NOT_RUNNING = 1,  // status: not running; stop: no demo directory in DIR
    EXIT_USAGE = 2,        // bad command line
    EXIT_FOLDER = 3,       // DIR cannot be used: not empty, in use, not writable
    EXIT_SERVER = 4,       // slapd missing, did not start, refused the sample, did not stop
    // start interrupted by a signal: 128 + its number, as a shell reports it
};

struct Settings {
    int port = 0;  // start --port; 0: a free one
};

const cmdline::Program& program();

}  // namespace ryxlab

#endif
