#include "tools/saverpack/cli/osslsigncode.h"

#include "package/format.h"
#include "package/pe_layout.h"
#include "tools/saverpack/cli/os.h"
#include "tools/saverpack/checksum.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace saverpack {
namespace {

const char Program[] = "osslsigncode";

// Chain errors that say only that the signer is not known to the store: the
// signature itself is sound.
const char* const UntrustedSignerErrors[] = {
    "self-signed certificate",
    "self signed certificate",
    "unable to get local issuer certificate",
    "unable to get issuer certificate",
    "certificate has expired",
    "certificate is not yet valid",
};

// osslsigncode's own account of a failure, in one line: its first two lines
// that are neither progress, nor a prompt, nor its closing verdict, nor
// OpenSSL's error stack (whose lines open with a thread id and ":error:").
std::string Explanation(const std::string& output) {
    std::istringstream in(output);
    std::string line, said;
    int taken = 0;
    while (taken < 2 && std::getline(in, line)) {
        // The closing verdict may run into the next message: "FailedNo ...".
        if (line.rfind("Failed", 0) == 0 && line.size() > 6 && line[6] >= 'A' && line[6] <= 'Z')
            line = line.substr(6);
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos)
            continue;
        line = line.substr(start);
        size_t colon = line.find(":error:");
        bool stack =
            colon != std::string::npos && line.find_first_not_of("0123456789ABCDEF") == colon;
        if (stack || line.rfind("Connecting to", 0) == 0 || line.rfind("Enter PEM", 0) == 0 ||
            line == "Succeeded" || line == "Failed")
            continue;
        said += (taken++ ? "; " : "") + line;
    }
    return said.empty() ? "it gave no reason" : said;
}

// The value after "Key:" on the first line that has it, blanks trimmed.
std::string ValueAfter(const std::string& text, const std::string& key) {
    size_t at = text.find(key);
    if (at == std::string::npos)
        return "";
    size_t end = text.find('\n', at);
    std::string value = text.substr(at + key.size(), end - at - key.size());
    size_t first = value.find_first_not_of(" \t"), last = value.find_last_not_of(" \t\r");
    return first == std::string::npos ? "" : value.substr(first, last - first + 1);
}

toolos::ProgramRun Run(const std::vector<std::string>& arguments, const std::string& shownName) {
    toolos::ProgramRun run = toolos::RunProgram(Program, arguments);
    if (!run.started)
        throw Failure(shownName + ": signing needs osslsigncode on the PATH, and it is not there");
    return run;
}

// Everything of `before` must be in `after` as it was, but the checksum and
// the certificate-table entry of the header.
void CheckNothingMoved(const fs::path& before, const fs::path& after,
                       const std::string& shownName) {
    // A PE file's offsets are 32-bit: none is larger.
    std::vector<uint8_t> a = ReadWholeFile(before, shownName, UINT32_MAX);
    std::vector<uint8_t> b = ReadWholeFile(after, shownName, UINT32_MAX);
    uint32_t pe = a.size() >= DosHeaderSize ? ReadLe32(&a[DosLfanewOffset]) : 0;
    const uint64_t checksum = ChecksumFieldOffset(pe),
                   certificateEntry =
                       uint64_t(pe) + OptionalHeaderFromLfanew + SecurityDirectoryInOptional;
    bool same = b.size() >= a.size();
    for (size_t i = 0; same && i < a.size(); ++i) {
        bool header = (i >= checksum && i < checksum + 4) ||
                      (i >= certificateEntry && i < certificateEntry + DataDirectorySize);
        same = header || a[i] == b[i];
    }
    if (!same)
        throw Failure(shownName + ": internal error: signing changed the package");
}

// The right checksum into an installer file, written only when it is wrong.
void StampChecksum(const fs::path& installer, const std::string& shownName) {
    uint64_t field;
    uint32_t wanted;
    {
        FileBytes file(installer);
        field = ChecksumFieldIn(file, shownName);
        unsigned char held[4] = {};
        file.ReadAt(field, held, 4);
        wanted = PeChecksum(file, field);
        if (ReadLe32(held) == wanted)
            return;
    } // closed before it is written, which Windows may require
    unsigned char bytes[4];
    WriteLe32(bytes, wanted);
    std::fstream out(installer, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(std::streamoff(field));
    out.write(reinterpret_cast<const char*>(bytes), 4);
    out.close();
    if (!out)
        throw Failure(shownName + ": cannot write it: " + std::strerror(errno));
}

} // namespace

void SignInstaller(const fs::path& in, const fs::path& out, const SigningKey& key,
                   const std::string& shownName) {
    std::vector<std::string> arguments = {"sign", "-certs", key.cert, "-key", key.key};
    if (!key.passFile.empty())
        arguments.insert(arguments.end(), {"-readpass", key.passFile});
    if (!key.timestamp.empty())
        arguments.insert(arguments.end(), {"-ts", key.timestamp});
    if (!key.description.empty())
        arguments.insert(arguments.end(), {"-n", key.description});
    arguments.insert(arguments.end(), {"-in", TextOf(in), "-out", TextOf(out)});
    toolos::ProgramRun run = Run(arguments, shownName);
    StopIfInterrupted();
    if (run.exitCode != 0)
        throw Failure(shownName + ": osslsigncode could not sign it: " + Explanation(run.output));
    CheckNothingMoved(in, out, shownName);
    // osslsigncode puts the checksum of the signed file in; one that did
    // not would leave the unsigned file's. Authenticode's digest leaves the
    // field out, so setting it here keeps the signature whole.
    StampChecksum(out, shownName);
}

SignatureCheck CheckSignature(const fs::path& installer, const std::string& caFile) {
    SignatureCheck c;
    std::vector<std::string> arguments = {"verify"};
    if (!caFile.empty())
        arguments.insert(arguments.end(), {"-CAfile", caFile});
    arguments.insert(arguments.end(), {"-in", TextOf(installer)});
    toolos::ProgramRun run = toolos::RunProgram(Program, arguments);
    if (!run.started) {
        c.detail = "checking it needs osslsigncode on the PATH, and it is not there";
        return c;
    }
    const std::string& out = run.output;
    c.subject = ValueAfter(out, "Subject:");
    c.checked = out.find("Calculated message digest") != std::string::npos;
    bool digestMatches = c.checked && out.find("MISMATCH") == std::string::npos;
    c.trusted = run.exitCode == 0;
    std::string chainError = ValueAfter(out, "Error:");
    bool onlyUntrusted = false;
    for (const char* e : UntrustedSignerErrors)
        onlyUntrusted = onlyUntrusted || chainError == e;
    c.intact = digestMatches && (c.trusted || onlyUntrusted);
    if (!digestMatches)
        c.detail = c.checked ? "the file was changed after it was signed" : Explanation(out);
    else if (!c.trusted)
        c.detail = chainError.empty() ? Explanation(out) : chainError;
    return c;
}

} // namespace saverpack
