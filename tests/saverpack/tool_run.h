// Running the built saverpack as a user does, in a scratch folder of its
// own per test, for the command-line and end-to-end tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tooltest {

namespace fs = std::filesystem;

struct ToolRun {
    int exitCode = -1;
    std::string out, err;
};

inline std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::vector<uint8_t> ReadBytes(const fs::path& path) {
    std::string text = ReadText(path);
    return std::vector<uint8_t>(text.begin(), text.end());
}

// Runs `program` with `arguments` in `cwd`; with `interruptAfterMs`, sends
// it SIGINT after that long, as Ctrl-C would.
inline ToolRun RunTool(const std::string& program, const std::vector<std::string>& arguments,
                       const fs::path& cwd, int interruptAfterMs = 0) {
    fs::path out = cwd / ".run.out", err = cwd / ".run.err";
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(cwd.c_str()) != 0)
            _exit(126);
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(o, 1);
        dup2(e, 2);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& a : arguments)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (interruptAfterMs > 0) {
        usleep(useconds_t(interruptAfterMs) * 1000);
        kill(pid, SIGINT);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ToolRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = ReadText(out);
    run.err = ReadText(err);
    fs::remove(out);
    fs::remove(err);
    return run;
}

// A fresh folder per test, removed after it.
class ScratchTest : public ::testing::Test {
  public:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "saverpack-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    // Every name below the folder, sorted: what a run left behind.
    std::vector<std::string> Contents() const {
        std::vector<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(dir))
            names.push_back(fs::relative(e.path(), dir).string());
        std::sort(names.begin(), names.end());
        return names;
    }
    fs::path dir;
};

// Bytes of a repeating text (compressible) or of a fixed pseudo-random
// sequence (not compressible).
inline std::vector<uint8_t> TextLike(size_t size) {
    const std::string words = "the fish swims past the weed and the weed sways past the fish ";
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = uint8_t(words[(i * 7 / 5) % words.size()]);
    return bytes;
}
inline std::vector<uint8_t> Noise(size_t size, uint32_t seed = 1) {
    std::vector<uint8_t> bytes(size);
    for (uint8_t& b : bytes) {
        seed = seed * 1103515245u + 12345u;
        b = uint8_t(seed >> 23);
    }
    return bytes;
}

// The interpreter that has Debian's python3-pefile, a PE reader of its own
// to judge installers by; "" when none has it.
inline std::string PythonWithPefile() {
    for (const char* python : {"/usr/bin/python3", "python3"})
        if (system((std::string(python) + " -c 'import pefile' >/dev/null 2>&1").c_str()) == 0)
            return python;
    return "";
}

// The first group of each match of `pattern` in `text`, in order.
inline std::vector<std::string> Matches(const std::string& text, const std::string& pattern) {
    std::vector<std::string> found;
    std::regex re(pattern);
    for (std::sregex_iterator it(text.begin(), text.end(), re), end; it != end; ++it)
        found.push_back((*it)[1]);
    return found;
}

// A self-signed code-signing certificate and its key, cert.pem and key.pem
// in `dir`, for a signer named `name`; false when openssl could not make it.
inline bool MakeSelfSignedCertificate(const fs::path& dir, const std::string& name) {
    return system(("cd " + dir.string() +
                   " && openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out "
                   "cert.pem -days 2 -subj '/CN=" +
                   name + "' >/dev/null 2>&1")
                      .c_str()) == 0;
}

} // namespace tooltest
