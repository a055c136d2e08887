// How the core reports what it refuses: a plain sentence in no front end's
// words, and which of the author's inputs it is about, so that the command
// line can name its option and a form can show it beside its control.
#pragma once

#include <optional>
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

    // What is wrong with that input, for the front end to word: anything
    // (the sentence says it all), missing though another input needs it, or
    // a text refused for the installer `installer` (the value, `given`, when
    // it may be shown as it is: not one with a tab in it).
    enum class Fault { Any, Missing, Text };
    Fault fault = Fault::Any;
    std::string installer;
    std::optional<std::string> given;

    Failure& About(const std::string& name) {
        input = name;
        return *this;
    }
    Failure& Missing(const std::string& name) {
        fault = Fault::Missing;
        return About(name);
    }
    Failure& InText(const std::string& name, const std::string& forInstaller,
                    std::optional<std::string> shownValue) {
        fault = Fault::Text;
        installer = forInstaller;
        given = shownValue;
        return About(name);
    }
};

} // namespace saverpack
