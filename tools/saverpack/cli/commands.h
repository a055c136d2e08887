// The tool's commands, each returning the process's exit code: 0 for
// success, 1 for failure (a Failure carries 2 for a command line that cannot
// be carried out).
#pragma once

#include "decoder/codec.h"
#include "tools/saverpack/cli/osslsigncode.h"
#include "tools/saverpack/create.h"
#include "tools/saverpack/examine.h"

#include <optional>
#include <string>
#include <vector>

namespace saverpack {

struct CreateOptions {
    std::string out;
    std::string title; // UTF-8, checked by TitleProblem
    std::string saver;
    std::string data; // "" for none
    std::vector<std::string> files;
    unsigned firstNumber = 1;
    bool store = false;
    Level level = Level::Best;
    std::string stub; // "" for the one carried inside the tool
    SigningKey key;   // no cert: unsigned
    bool quiet = false;
    // The installer's identity; with none of these, the stub's resources
    // are kept byte for byte.
    std::string icon; // "" for the stub's own
    std::optional<std::string> productVersion, company, description, copyright;
};

int Create(const CreateOptions& options);
int List(const std::string& installer, bool json);
int Verify(const std::string& installer, const std::string& caFile);
int Extract(const std::string& installer, const std::string& folder, bool force);
int Sign(const std::string& installer, const SigningKey& key);

// The installer stub carried inside the tool (build/win32/installer.exe).
extern const unsigned char EmbeddedStub[];
extern const size_t EmbeddedStubSize;

} // namespace saverpack
