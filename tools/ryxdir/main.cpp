// ryxdir: fetches certificates and revocation lists from an LDAP directory
// through the toolkit's directory plug-in, and validates certificates with
// them, the way the toolkit itself does: the plug-in is loaded by the library
// manager, its registered entry function is called with the connection
// information, and the manager it returns is asked for the objects.
#include <fcntl.h>
#include <openssl/crypto.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>

#include "commands.h"
#include "directory.h"
#include "output.h"
#include "ryxexception.h"
#include "status.h"

namespace {

// Runs before any library's initialisers (the trace may open its file there):
// descriptors 0 to 2 are made open, so that no file or connection opened
// later takes the place of a closed standard stream and receives its output.
// A closed standard output stays unwritable (/dev/null opened for reading), so
// that output written to it fails as lost output; a closed standard error
// swallows its messages. A write to a closed pipe or socket becomes an error
// return, not a signal.
void prepareProcess(int, char**, char**) {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1) {
            const int opened = ::open("/dev/null", fd <= 1 ? O_RDONLY : O_WRONLY);
            if (opened != fd) {
                ::_exit(ryxdir::EXIT_OUTPUT);
            }
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
}

__attribute__((section(".preinit_array"), used)) void (*const s_prepare)(int, char**,
                                                                         char**) = prepareProcess;

// Under the leak checker the process tears everything down before it exits, so
// that whatever is left over is reported.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kTearDownAtExit = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kTearDownAtExit = true;
#else
constexpr bool kTearDownAtExit = false;
#endif
#else
constexpr bool kTearDownAtExit = false;
#endif

// OpenSSL's configuration is read as the openssl command reads it: the file
// OPENSSL_CONF names, else the system's, so that an administrator's providers
// and policies apply. The plug-in binds with simple binds only, so the SASL
// mechanisms that OpenLDAP's library would load from their folder at its first
// use are left out (unless SASL_PATH says otherwise).
void prepareLibraries() {
    OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CONFIG, nullptr);
    ::setenv("SASL_PATH", "", 0);
    if (!kTearDownAtExit) {
        ryxdir::keepLoadedUntilExit();
    }
}

// The first argument that names a command; empty when none does.
std::string commandNamed(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        for (const cmdline::Command* c : ryxdir::program().commands) {
            if (std::strcmp(argv[i], c->name) == 0) {
                return argv[i];
            }
        }
    }
    return std::string();
}

// One line and the hint on standard error; with -f json also the failure as
// a JSON document on standard output.
int usageFailed(int argc, char** argv, const std::string& message) {
    using namespace ryxdir;
    cmdline::writeUsageFailure(program(), message);
    if (cmdline::lastValue(program(), argc, argv, "-f") == "json") {
        Output(Format::Json, std::string())
            .finishFailed(commandNamed(argc, argv), EXIT_USAGE, message);
    }
    return EXIT_USAGE;
}

int run(int argc, char** argv) {
    using namespace ryxdir;
    Settings settings;
    try {
        settings = parseCommandLine(argc, argv);
    } catch (const Failure& f) {
        return usageFailed(argc, argv, f.message);
    }
    if (settings.help || settings.version) {
        std::cout << (settings.help ? usageText() : "ryxdir " RYX_VERSION "\n") << std::flush;
        if (!std::cout) {
            note(outputLost());
            return EXIT_OUTPUT;
        }
        return EXIT_FOUND;
    }
    const std::string command = settings.command->line.name;
    Output out(settings.format, settings.outDir, settings.batch, settings.force);
    int status = EXIT_FOUND;
    std::string message;
    try {
        out.start(command);
        status = settings.batch && settings.command->fetch != nullptr
                     ? runBatch(settings, out)
                     : settings.command->handler(settings, out);
        out.finish(status);
        return status;
    } catch (const Failure& f) {
        status = f.status;
        message = f.message;
    } catch (const RYXException& e) {
        status = EXIT_PLUGIN;
        message = e.what();
    } catch (const std::exception& e) {
        status = EXIT_DIRECTORY;
        message = e.what();
    }
    note(message);
    out.finishFailed(command, status, message);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    prepareLibraries();
    const int status = run(argc, argv);
    if (kTearDownAtExit) {
        return status;
    }
    // The output is complete and checked; the manager, the plug-in and the
    // libraries go with the process instead of being unloaded one by one.
    std::fflush(nullptr);
    ::_exit(status);
}
