#define _DEFAULT_SOURCE  /* wait4 */
/* Runs a program and writes its peak resident memory, in KiB, to a file:
 *   peak_memory OUT_FILE PROGRAM [ARG...]
 * Being small itself, it measures the program alone (a process forked from
 * a large one would count its parent's pages). Exits as the program did. */
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char **argv) {
    if (argc < 3) return 125;
    const pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[2], argv + 2);
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return 125;
    FILE *out = fopen(argv[1], "w");
    if (!out) return 125;
    fprintf(out, "%ld\n", usage.ru_maxrss);
    fclose(out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
