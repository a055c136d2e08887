// How the core reports what it refuses: one line, ready to show, and which
// of the author's inputs it is about, so that a form can show it beside
// that input.
#pragma once

#include <stdexcept>
#include <string>

namespace saverpack {

// A failure to report in one line; `exitCode` 1 for a failure, 2 for a
// command line that cannot be carried out.
struct Failure : std::runtime_error {
    Failure(const std::string& message, int code = 1)
        : std::runtime_error(message), exitCode(code) {}
    int exitCode;
    // The input at fault, by the name a form gives it ("title", "icon",
    // "saver", ...); "" when it is no one input's.
    std::string input;

    Failure& About(const std::string& name) {
        input = name;
        return *this;
    }
};

} // namespace saverpack
