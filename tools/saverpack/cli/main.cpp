// saverpack: makes, lists, extracts, verifies and signs self-installing
// screen savers. Exit status: 0 success, 1 failure, 2 a command line that
// cannot be carried out.
#include "tools/saverpack/cli/commands.h"

#include "tools/saverpack/cli/os.h"
#include "tools/saverpack/names.h"

#include <CLI/CLI.hpp>

#include <cstdio>

#ifndef SAVERPACK_VERSION
#error "the build gives SAVERPACK_VERSION, from the project's version"
#endif

namespace {

using saverpack::Failure;

// The core's refusals in the command line's words: an input by its option.
std::string Worded(const Failure& e) {
    static const struct {
        const char* input;
        const char* option;
    } options[] = {{"data", "--data"},
                   {"version", "--product-version"},
                   {"company", "--company"},
                   {"description", "--description"},
                   {"copyright", "--copyright"}};
    std::string option = e.input;
    for (const auto& o : options)
        if (e.input == o.input)
            option = o.option;
    switch (e.fault) {
    case Failure::Fault::Missing:
        // The files after the data file are what the command line calls FILE.
        if (e.input == "data")
            return "each FILE becomes entry 2 or later, and entry 1 is always the data file: "
                   "give --data as well";
        return std::string(e.what()) + ": give " + option + " as well";
    case Failure::Fault::Text:
        return e.installer + ": " + option + (e.given ? " " + *e.given : "") + ": " + e.what();
    case Failure::Fault::Any:
        break;
    }
    return e.what();
}

const char Footer[] = "Exit status: 0 success, 1 failure, 2 usage.";

void AddSigningOptions(CLI::App& command, saverpack::SigningKey& key, bool required) {
    CLI::Option* cert =
        command.add_option("--cert", key.cert, "certificate (chain) to sign with, PEM or DER")
            ->check(CLI::ExistingFile);
    CLI::Option* privateKey = command.add_option("--key", key.key, "the certificate's private key")
                                  ->check(CLI::ExistingFile);
    command.add_option("--pass-file", key.passFile, "file holding the key's password")
        ->check(CLI::ExistingFile)
        ->needs(privateKey);
    command.add_option("--timestamp", key.timestamp, "RFC 3161 time-stamp server URL")->needs(cert);
    if (required) {
        cert->required();
        privateKey->required();
    } else {
        cert->needs(privateKey);
        privateKey->needs(cert);
    }
}

int Run(int argc, char** argv) {
    CLI::App app{"saverpack: makes, lists, extracts, verifies and signs screen-saver installers",
                 "saverpack"};
    app.allow_windows_style_options(false); // a leading '/' starts a path, not an option
    app.footer(Footer);
    app.set_version_flag("--version", "saverpack " SAVERPACK_VERSION);
    app.require_subcommand(1);

    saverpack::CreateOptions create;
    std::string levelNames, levelName;
    for (size_t i = 0; i < saverpack::OfferedLevelCount; ++i)
        levelNames += (i ? "|" : "") + std::string(saverpack::NameOf(saverpack::OfferedLevels[i]));
    CLI::App* createCommand = app.add_subcommand(
        "create", "make an installer: entry 0 the saver, entry 1 the data file, then each FILE");
    createCommand->add_option("-o,--output", create.out, "the installer to write (NAME.exe)")
        ->required();
    createCommand
        ->add_option("--title", create.title,
                     "the saver's title, at most " + std::to_string(TitleSize) +
                         " Windows-1252 characters")
        ->required()
        ->check([](const std::string& t) { return saverpack::TitleProblem(t); });
    createCommand->add_option("--saver", create.saver, "the screen saver program (.scr)")
        ->required();
    createCommand->add_option("--data", create.data,
                              "the saver's data file, installed as "
                              "NAME.DAT");
    createCommand
        ->add_option("--first-number", create.firstNumber,
                     "number of the first FILE's installed name (FILEnnnn)")
        ->check(CLI::Range(0u, 65535u));
    CLI::Option* level =
        createCommand->add_option("--level", levelName, "compression level (default best)")
            ->type_name(levelNames)
            ->check([&](const std::string& name) {
                return saverpack::LevelNamed(name) ? "" : "the level is one of " + levelNames;
            });
    createCommand->add_flag("--store", create.store, "store every entry as it is")->excludes(level);
    createCommand->add_option("--stub", create.stub, "another installer stub to write into");
    createCommand->add_option("--icon", create.icon,
                              "the installer's icon: an .ico, every image in it, or a square PNG");
    createCommand->add_option("--product-version", create.productVersion,
                              "file and product version, A.B[.C[.D]]");
    createCommand->add_option("--company", create.company, "the company name Windows shows");
    createCommand->add_option("--description", create.description,
                              "the file description (default: TITLE Screen Saver Installation)");
    createCommand->add_option("--copyright", create.copyright, "the copyright notice");
    AddSigningOptions(*createCommand, create.key, false);
    createCommand->add_flag("-q,--quiet", create.quiet, "print errors only");
    createCommand->add_option("FILE", create.files, "further files, entries 2 and on");

    std::string installer, folder = ".", caFile;
    bool json = false, force = false;
    CLI::App* listCommand = app.add_subcommand("list", "show what an installer holds");
    listCommand->add_option("INSTALLER", installer, "the installer")->required();
    listCommand->add_flag("--json", json, "as JSON (the README gives its schema)");

    CLI::App* extractCommand =
        app.add_subcommand("extract", "write the entries where the installer would, below DIR");
    extractCommand->add_option("INSTALLER", installer, "the installer")->required();
    extractCommand->add_option("-C,--directory", folder, "the folder to write into (default .)");
    extractCommand->add_flag("--force", force, "replace files that exist");

    CLI::App* verifyCommand =
        app.add_subcommand("verify", "check everything the installer will rely on");
    verifyCommand->add_option("INSTALLER", installer, "the installer")->required();
    verifyCommand->add_option("--ca", caFile, "certificates the signer must chain to")
        ->check(CLI::ExistingFile);

    saverpack::SigningKey key;
    CLI::App* signCommand =
        app.add_subcommand("sign", "Authenticode-sign an installer with osslsigncode");
    signCommand->add_option("INSTALLER", installer, "the installer")->required();
    AddSigningOptions(*signCommand, key, true);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::string what = e.what();
        std::fprintf(stderr, "saverpack: %s (see saverpack --help)\n", what.c_str());
        return 2;
    }

    saverpack::CatchInterrupts();
    if (createCommand->parsed()) {
        if (!levelName.empty())
            create.level = *saverpack::LevelNamed(levelName);
        return saverpack::Create(create);
    }
    if (listCommand->parsed())
        return saverpack::List(installer, json);
    if (extractCommand->parsed())
        return saverpack::Extract(installer, folder, force);
    if (verifyCommand->parsed())
        return saverpack::Verify(installer, caFile);
    return saverpack::Sign(installer, key);
}

} // namespace

int main(int argc, char** argv) {
    toolos::PrepareConsole();
    std::vector<std::string> arguments = toolos::Utf8Arguments(argc, argv);
    std::vector<char*> pointers;
    for (std::string& a : arguments)
        pointers.push_back(a.data());
    pointers.push_back(nullptr);
    try {
        return Run(int(arguments.size()), pointers.data());
    } catch (const Failure& e) {
        std::fprintf(stderr, "saverpack: %s\n", Worded(e).c_str());
        return e.exitCode;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "saverpack: out of memory\n");
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "saverpack: %s\n", e.what());
        return 1;
    }
}
