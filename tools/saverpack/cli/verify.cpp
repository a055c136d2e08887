// saverpack verify on a file: the core's checks and verdict, with what
// osslsigncode says of the signature among the findings.
#include "tools/saverpack/cli/commands.h"

#include "tools/saverpack/report.h"

#include <cstdio>

namespace saverpack {

int Verify(const std::string& installer, const std::string& caFile) {
    fs::path path = PathOf(installer);
    FileBytes file(path);
    Examination x = Examine(file, TextOf(path.filename()));
    std::string signer;
    std::vector<Finding> signature;
    if (x.signature.present) {
        SignatureCheck c = CheckSignature(path, caFile);
        signer = c.subject;
        if (!c.intact)
            signature.push_back({true, false, "signature: " + c.detail});
        else if (!c.trusted && !caFile.empty())
            signature.push_back(
                {true, false,
                 "signature: its signer is not trusted by " + caFile + ": " + c.detail});
        else if (!c.trusted)
            signature.push_back({false, false,
                                 "signature: intact, but its signer is not "
                                 "trusted by the system's certificates: " +
                                     c.detail});
    }
    Verdict v = VerifyInstaller(file, x, installer, signer, signature);
    std::fputs(v.text.c_str(), stdout);
    return v.sound ? 0 : 1;
}

} // namespace saverpack
