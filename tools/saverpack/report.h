// What list and verify say of an examined installer, as text: the same
// words on a terminal and on the page.
#pragma once

#include "tools/saverpack/examine.h"

#include <string>

namespace saverpack {

// list's table and its --json object. `signer` is the signer's certificate
// subject, or "" for none (or none known).
std::string ListText(const std::string& installer, const Examination& x, const std::string& signer);
std::string ListJson(const std::string& installer, const Examination& x, const std::string& signer);

// Throws Failure naming `installer` when it holds nothing list could show.
void RequireListable(const std::string& installer, const Examination& x);

// verify's lines: each finding, then the verdict.
struct Verdict {
    std::string text;
    bool sound = false;
};
Verdict VerifyText(const std::string& installer, const Examination& x, const std::string& signer);

// verify, past Examine: every stream decoded and the checksum summed, their
// findings added to `x`, then the front end's own about the signature
// (`signatureFindings`, by `signer`), and the verdict on them all.
Verdict VerifyInstaller(const pkg::ByteSource& file, Examination& x, const std::string& installer,
                        const std::string& signer = "",
                        const std::vector<Finding>& signatureFindings = {});

} // namespace saverpack
