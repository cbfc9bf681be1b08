// What the command line asks for.
#ifndef RYXDIR_SETTINGS_H
#define RYXDIR_SETTINGS_H

#include <memory>
#include <string>
#include <vector>

#include "connection.h"

class RYXASNx500Name;

namespace ryxdir {

struct Command;
struct VerifySettings;   // verify's own, in cmd_verify.cpp
struct StatusSettings;   // status's own, in cmd_status.cpp
struct PublishSettings;  // publish's own, in cmd_publish.cpp

enum class Format { Pem, Der, Text, Json };

// A command's own settings, made at their first use (its first option).
template <typename T>
T& made(std::shared_ptr<T>& slot) {
    if (!slot) {
        slot = std::make_shared<T>();
    }
    return *slot;
}

struct Settings {
    ConnectionSettings connection;

    // Output.
    std::string formatName;  // empty: the command's default
    Format format = Format::Pem;
    std::string outDir;
    bool force = false;  // -o replaces files that exist

    // --batch: operands from standard input, one a line.
    bool batch = false;
    bool stopOnError = false;

    std::shared_ptr<VerifySettings> verify;    // made by verify's first option
    std::shared_ptr<StatusSettings> status;    // made by status's first option
    std::shared_ptr<PublishSettings> publish;  // made by publish's first option

    bool quiet = false;  // -q: no progress, no warnings
    // --issuer-of or --subject-of: the name taken from a certificate in place
    // of the NAME operand (which then holds its LDAP text), and the option.
    std::shared_ptr<const RYXASNx500Name> name;
    const char* nameOption = nullptr;

    bool help = false;     // -h or --help alone
    bool version = false;  // --version alone
    const Command* command = nullptr;
    std::string operand;                // the first operand
    std::vector<std::string> operands;  // all of them (verify takes several)
};

}  // namespace ryxdir

#endif
