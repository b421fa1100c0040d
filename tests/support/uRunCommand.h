#pragma once
// Runs a shell command as a user would and collects its standard output and exit status.

#include <sys/wait.h>

#include <cstdio>
#include <string>

struct TCommandRun {
    int Status = -1;  // the exit status; -1 when the command did not run or did not exit
    std::string Output;
};

inline TCommandRun RunCommand(const std::string& command)
{
    TCommandRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.Output.append(buffer, n);
    const int status = pclose(pipe);
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}
