#include "stdin_lines.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

void read_stdin_lines(size_t max_line, const std::function<bool(const std::string &)> &each) {
    static char buffer[1 << 16];
    std::string current;
    bool overlong = false;
    long number = 0;
    const auto finish_line = [&] {
        ++number;
        if (overlong)
            std::fprintf(stderr, "oxmeta: warning: line %ld is longer than %zu KiB; only its first %zu KiB are read\n",
                         number, max_line / 1024, max_line / 1024);
        if (!current.empty() && current.back() == '\r') current.pop_back();
        const bool go_on = each(current);
        current.clear();
        overlong = false;
        return go_on;
    };
    for (;;) {
        const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        size_t at = 0;
        const auto size = static_cast<size_t>(got);
        while (at < size) {
            const char *newline = static_cast<const char *>(std::memchr(buffer + at, '\n', size - at));
            const size_t end = newline ? static_cast<size_t>(newline - buffer) : size;
            const size_t room = max_line - std::min(current.size(), max_line);
            current.append(buffer + at, std::min(end - at, room));
            overlong = overlong || end - at > room;
            at = end;
            if (!newline) break;
            ++at;
            if (!finish_line()) return;
        }
        std::fflush(stdout);
    }
    if (!current.empty() || overlong) finish_line();
}
