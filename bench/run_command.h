// Runs a program for a benchmark, as a user's shell would: stdin from a
// file, stdout (and, if asked, stderr) to /dev/null; its seconds, or -1 when
// it could not be run or exited above max_status. With peak_kib, the program
// runs under the small peak_memory runner, which writes its peak resident
// memory (KiB) where *peak_kib is then read from.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

extern char **environ;

inline double run_command(const std::vector<std::string> &command, const std::string &input = "/dev/null",
                          int max_status = 0, bool drop_stderr = false, long *peak_kib = nullptr) {
    std::vector<std::string> args = command;
#ifdef OXMETA_PEAK_MEMORY
    const std::string peak_file = "/tmp/oxmeta-bench-peak-" + std::to_string(getpid());
    if (peak_kib) args.insert(args.begin(), {OXMETA_PEAK_MEMORY, peak_file});
#endif
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (drop_stderr) posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char *> argv;
    for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
#ifdef OXMETA_PEAK_MEMORY
    if (peak_kib) {
        *peak_kib = -1;
        if (FILE *f = std::fopen(peak_file.c_str(), "r")) {
            if (std::fscanf(f, "%ld", peak_kib) != 1) *peak_kib = -1;
            std::fclose(f);
        }
        std::remove(peak_file.c_str());
    }
#endif
    return WIFEXITED(status) && WEXITSTATUS(status) <= max_status ? seconds : -1;
}
