#include "tools/saverpack/cli/os.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace toolos {

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

void PrepareConsole() {}

bool StderrIsTerminal() {
    return isatty(2) == 1;
}

int ProcessId() {
    return int(getpid());
}

bool IdentityOf(const std::filesystem::path& path, FileIdentity& identity) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0)
        return false;
    identity.volume = uint64_t(status.st_dev);
    identity.file = uint64_t(status.st_ino);
    return true;
}

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments) {
    ProgramRun run;
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return run;
    pid_t pid = fork();
    if (pid < 0) {
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        return run;
    }
    if (pid == 0) {
        int none = open("/dev/null", O_RDONLY);
        dup2(none, 0);
        dup2(pipeEnds[1], 1);
        dup2(pipeEnds[1], 2);
        close(pipeEnds[0]);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& a : arguments)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127); // the shell's code for a program not found
    }
    close(pipeEnds[1]);
    char block[4096];
    for (;;) {
        ssize_t got = read(pipeEnds[0], block, sizeof block);
        if (got > 0)
            run.output.append(block, size_t(got));
        else if (got == 0 || errno != EINTR)
            break;
    }
    close(pipeEnds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.started = run.exitCode != 127;
    return run;
}

} // namespace toolos
