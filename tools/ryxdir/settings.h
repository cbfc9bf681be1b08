// What the command line asks for.
#ifndef RYXDIR_SETTINGS_H
#define RYXDIR_SETTINGS_H

#include <ctime>
#include <string>
#include <vector>

#include "secret.h"

namespace ryxdir {

struct Command;

enum class Format { Pem, Der, Text, Json };

struct Settings {
    // Server and connection.
    std::string host = "localhost";
    int port = 389;
    std::string bindDN;
    Secret password;
    bool promptPassword = false;  // -W: ask on the terminal
    int protocol = 3;
    int errorMode = 0;
    bool errorModeGiven = false;
    std::string driverPath;
    // TLS and attribute names, handed to the toolkit LDAP library.
    enum class StartTls { Off, Try, Require } startTls = StartTls::Off;
    std::string caCertFile;  // empty: ldap.conf's TLS_CACERT, else the system's store
    bool foldBinary = true;  // report "NAME;binary" as "NAME" when NAME was asked for

    // Output.
    std::string formatName;  // empty: the command's default
    Format format = Format::Pem;
    std::string outDir;

    // verify.
    std::string trustFile;  // empty: the system's trust store
    bool crlOptional = false;
    bool atGiven = false;
    std::time_t at = 0;
    std::vector<std::string> policies;  // --policy OIDs
    bool explicitPolicy = false;
    std::string cacheDir;  // --cache: lists shared by processes

    // --batch: operands from standard input, one a line.
    bool batch = false;
    bool stopOnError = false;

    bool help = false;
    const Command* command = nullptr;
    std::string operand;                // the first operand
    std::vector<std::string> operands;  // all of them (verify takes several)
};

}  // namespace ryxdir

#endif
