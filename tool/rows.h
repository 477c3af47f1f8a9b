// Rows of cells printed for people (an aligned table) or for scripts
// (tab-separated, no header, no padding); cells are escaped as they print.
#pragma once

#include <string>
#include <vector>

struct rows {
    std::vector<std::string> headers;
    std::vector<std::vector<std::string>> cells;  // one vector per row, a cell per header
};

// The aligned table with its header; columns empty in every row left out;
// cut to the terminal's width when truncate.
void print_aligned(const rows &r, bool truncate);

// One line per row, cells separated by tabs, every column.
void print_tab_separated(const rows &r);
