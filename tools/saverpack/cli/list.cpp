// saverpack list on a file: the core's words on stdout, the signer read by
// osslsigncode.
#include "tools/saverpack/cli/commands.h"

#include "tools/saverpack/report.h"

#include <cstdio>

namespace saverpack {
namespace {

struct Opened {
    fs::path path;
    FileBytes file;
    Examination x;
    explicit Opened(const std::string& installer)
        : path(PathOf(installer)), file(path), x(Examine(file, TextOf(path.filename()))) {}
};

std::string SignerOf(const Opened& o) {
    if (!o.x.signature.present)
        return "";
    SignatureCheck c = CheckSignature(o.path, "");
    return c.subject.empty() ? "(signed; " + c.detail + ")" : c.subject;
}

} // namespace

int List(const std::string& installer, bool json) {
    Opened o(installer);
    RequireListable(installer, o.x);
    std::string signer = SignerOf(o);
    std::fputs((json ? ListJson : ListText)(installer, o.x, signer).c_str(), stdout);
    if (!o.x.Sound())
        std::fprintf(stderr,
                     "saverpack: %s: the package has problems; saverpack verify names "
                     "them\n",
                     installer.c_str());
    return 0;
}

} // namespace saverpack
