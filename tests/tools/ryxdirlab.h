// The server the ryxdir tests run the tool against: a slapd of one schema
// under dc=example,dc=com, a scratch folder beside it, CA entries made from
// generated PKIs, and the tool started with the server's options.
#ifndef RYXDIRLAB_H
#define RYXDIRLAB_H

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "labpki.h"
#include "labslapd.h"
#include "runprogram.h"

namespace ryxdirlab {

const std::string kSuffix = ",dc=example,dc=com";

inline std::string text(const labpki::Bytes& b) {
    return std::string(b.begin(), b.end());
}

inline std::string casesFile(const std::string& name) {
    return std::string(RYX_TOOLS_CASES) + "/" + name;
}

class Lab {
  public:
    // Nothing runs until start().
    explicit Lab(LabSlapd::Schema schema = LabSlapd::Schema::Stock)
        : slapd(std::make_unique<LabSlapd>(schema)) {}

    void start(const std::string& folder) {
        slapd->start();
        dir = slapd->directory() + "/" + folder;
        ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
    }

    // An entry cn=CN under suffix with its certificates and lists, under
    // ";binary" names on the stock schema.
    void addCA(const std::string& cn, const std::vector<labpki::Bytes>& certs,
               const std::vector<labpki::Bytes>& crls = {},
               const std::vector<labpki::Bytes>& arls = {}, const std::string& suffix = kSuffix) {
        const std::string option = slapd->schema() == LabSlapd::Schema::Stock ? ";binary" : "";
        std::vector<LabSlapd::Attribute> attributes{
            {"objectClass", {"applicationProcess", "pkiCA"}}, {"cn", {cn}}};
        for (const auto& list : {std::make_pair("cACertificate", &certs),
                                 std::make_pair("certificateRevocationList", &crls),
                                 std::make_pair("authorityRevocationList", &arls)}) {
            if (!list.second->empty()) {
                attributes.push_back({list.first + option, {}});
                for (const labpki::Bytes& b : *list.second) {
                    attributes.back().values.push_back(text(b));
                }
            }
        }
        slapd->addEntry("cn=" + cn + suffix, attributes);
    }

    void write(const std::string& name, const std::string& bytes) const {
        spawntest::writeFile(dir + "/" + name, bytes);
    }
    void writePEM(const std::string& name, const labpki::Bytes& der) const {
        write(name, labpki::certificatePEM(der));
    }

    // The tool with the server options, then args (a later -H wins).
    std::vector<std::string> command(const std::vector<std::string>& args) const {
        std::vector<std::string> argv{RYXDIR_PATH, "-H", slapd->host(), "-p",
                                      std::to_string(slapd->port())};
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    }
    spawntest::Result run(const std::vector<std::string>& args,
                          const spawntest::RunOptions& options = {}) const {
        return spawntest::run(command(args), dir, options);
    }

    std::unique_ptr<LabSlapd> slapd;
    std::string dir;
};

inline spawntest::RunOptions withEnv(std::vector<std::string> variables) {
    spawntest::RunOptions options;
    options.env = std::move(variables);
    return options;
}

}  // namespace ryxdirlab

#endif
