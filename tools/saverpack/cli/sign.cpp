// saverpack sign: an installer signed in place, through osslsigncode, unless
// it is signed already, holds no package, or is damaged.
#include "tools/saverpack/cli/commands.h"

#include <cstdio>

namespace saverpack {

int Sign(const std::string& installer, const SigningKey& key) {
    fs::path path = PathOf(installer);
    std::vector<NamedFile> read;
    for (const std::string* name : {&key.cert, &key.key, &key.passFile})
        if (!name->empty())
            read.push_back({*name, PathOf(*name)});
    RefuseToReplaceAnInput(path, "the installer to sign (" + installer + ")", read);
    SigningKey k = key;
    {
        FileBytes file(path);
        Examination x = Examine(file, TextOf(path.filename()));
        if (x.signature.present)
            throw Failure(installer + ": is signed already");
        if (!x.where.found || x.directory.entries.empty())
            throw Failure(installer + ": holds no package to sign");
        // Signing stamps a fresh checksum, which would pass a damaged file
        // off as sound.
        size_t known = x.findings.size();
        CheckChecksum(file, x);
        if (x.findings.size() > known && x.findings.back().problem)
            throw Failure(installer + ": will not sign it: " + x.findings.back().text);
        k.description = TitleOf(x.directory);
    } // closed before it is replaced, which Windows requires
    PendingFile signed_(path);
    SignInstaller(path, signed_.Path(), k, installer);
    StopIfInterrupted();
    signed_.Commit();
    std::printf("%s: signed\n", installer.c_str());
    return 0;
}

} // namespace saverpack
