// What the command line asks for.
#ifndef RYXDIR_SETTINGS_H
#define RYXDIR_SETTINGS_H

#include <memory>
#include <string>
#include <vector>

#include "connection.h"

namespace ryxdir {

struct Command;
struct VerifySettings;   // verify's own, in cmd_verify.cpp
struct PublishSettings;  // publish's own, in cmd_publish.cpp

enum class Format { Pem, Der, Text, Json };

struct Settings {
    ConnectionSettings connection;

    // Output.
    std::string formatName;  // empty: the command's default
    Format format = Format::Pem;
    std::string outDir;

    // --batch: operands from standard input, one a line.
    bool batch = false;
    bool stopOnError = false;

    std::shared_ptr<VerifySettings> verify;    // made by verify's first option
    std::shared_ptr<PublishSettings> publish;  // made by publish's first option

    bool help = false;     // -h or --help alone
    bool version = false;  // --version alone
    const Command* command = nullptr;
    std::string operand;                // the first operand
    std::vector<std::string> operands;  // all of them (verify takes several)
};

}  // namespace ryxdir

#endif
