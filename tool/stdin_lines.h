// Reading names one per line from stdin, as `parse -` and `match -` do.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

// Calls each for every line of stdin (without its "\n" or "\r\n"), in
// constant memory: a line longer than max_line bytes is cut there, with a
// warning on stderr. Then flushes stdout whenever the input read so far is
// used up, so that a program feeding lines one at a time gets each answer
// at once. Stops early when each returns false.
void read_stdin_lines(size_t max_line, const std::function<bool(const std::string &)> &each);
