// Authenticode signing and checking through osslsigncode, run as a program:
// the signature goes at the end of the file, after the package, and the
// header's checksum and certificate-table fields change; nothing of the
// package moves.
#pragma once

#include "tools/saverpack/cli/files.h"

#include <string>

namespace saverpack {

struct SigningKey {
    std::string cert;        // PEM or DER certificate (chain)
    std::string key;         // its private key
    std::string passFile;    // the key's password in a file, or ""
    std::string timestamp;   // an RFC 3161 time-stamp server, or ""
    std::string description; // shown by Windows as the program's name
};

// Signs the installer `in` into `out` (which must not exist yet). Throws
// Failure naming `shownName` when osslsigncode is missing or refuses, or
// when the signed file differs from `in` anywhere but the header fields
// and past the end of `in`. `out` carries its own right checksum.
void SignInstaller(const fs::path& in, const fs::path& out, const SigningKey& key,
                   const std::string& shownName);

struct SignatureCheck {
    bool checked = false; // osslsigncode ran and read the signature
    bool intact = false;  // the digest matches the file and the signature holds
    bool trusted = false; // its chain verifies against the CA file
    std::string subject;  // the signer's certificate subject
    std::string detail;   // why it failed, in osslsigncode's words
};

// `caFile` "" for osslsigncode's default store.
SignatureCheck CheckSignature(const fs::path& installer, const std::string& caFile);

} // namespace saverpack
