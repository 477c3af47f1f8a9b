// Text for a terminal: cells made safe to print, measured in the columns a
// terminal gives them, and cut to fit.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// text with every control character (C0, DEL, C1), every backslash and every
// byte that is not valid UTF-8 written as an escape ("\n", "\t", "\x1b",
// "\u009b", "\\"), so that printing it can neither move the cursor, start an
// escape sequence nor break a row.
std::string escape_cell(std::string_view text);

// The columns a terminal gives text (valid UTF-8 without control
// characters, as escape_cell makes it): wide East Asian characters and
// emoji take two, combining marks none.
size_t display_width(std::string_view text);

// text cut to at most width columns, ending in "…" when it was cut.
std::string truncate_to_width(std::string_view text, size_t width);

// Whether stdout is a terminal, and its width in columns (0 when unknown).
bool stdout_is_terminal();
size_t terminal_columns();
