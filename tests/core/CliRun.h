#pragma once
// quarlon-cli run as a user runs it: a real process, its output and exit
// status. For the core tests, which know where the program is built.
#include "Fixtures.h"

#include <cstdlib>
#include <string>
#include <sys/wait.h>

struct CliRun {
    int status;
    std::string out, err;
};

// `args` are passed to the shell as written (quote paths with Q); the
// output is kept in `dir`. A run over 30 seconds counts as a failure.
inline CliRun RunCli(const TempDir& dir, const std::string& args)
{
    const std::string out = dir.File("stdout.txt"), err = dir.File("stderr.txt");
    const std::string cmd =
        std::string("timeout 30 '") + QUARLON_CLI + "' " + args + " >'" + out + "' 2>'" + err + "'";
    const int raw = std::system(cmd.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadText(out), ReadText(err)};
}

inline std::string Q(const std::string& path) { return "'" + path + "'"; }
