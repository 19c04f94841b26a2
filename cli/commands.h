#pragma once
#include <csignal>

// Subcommands of tralux-cli that live in files of their own. Each takes the arguments after its
// name (argv[first] is the first of them) and returns the process exit status.
namespace tralux::cli {
// play FILE [--start MS] [--eq B1,...,B10,MASTER] [--no-eq]: preview through the sound card.
int Play(int argc, char** argv, int first);

// cd list | cd rip ... (cli/cd_command.cpp)
int CdCommand(int argc, char** argv, int first);

// The name a stop by `sig` (SIGINT, SIGTERM or SIGHUP) is reported with.
inline const char* StopSignalName(int sig) {
    return sig == SIGINT ? "SIGINT" : sig == SIGHUP ? "SIGHUP" : "SIGTERM";
}
}  // namespace tralux::cli
