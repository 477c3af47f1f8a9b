#include "rows.h"

#include <algorithm>
#include <cstdio>

#include "terminal.h"

namespace {

constexpr size_t kColumnGap = 2;
constexpr size_t kNarrowestColumn = 6;

// Narrows the widest columns, one column of text at a time, until the row
// fits in limit or every column is as narrow as it may be.
void fit_widths(std::vector<size_t> &widths, size_t limit) {
    auto total = [&] {
        size_t sum = 0;
        for (size_t w : widths) sum += w;
        return sum + kColumnGap * (widths.size() - 1);
    };
    while (total() > limit) {
        const auto widest = std::max_element(widths.begin(), widths.end());
        if (*widest <= kNarrowestColumn) return;
        --*widest;
    }
}

}  // namespace

void print_aligned(const rows &r, bool truncate) {
    if (r.cells.empty()) return;
    std::vector<std::vector<std::string>> escaped;
    for (const auto &row : r.cells) {
        std::vector<std::string> e;
        for (const auto &cell : row) e.push_back(escape_cell(cell));
        escaped.push_back(std::move(e));
    }
    std::vector<size_t> shown;
    std::vector<size_t> widths;
    for (size_t c = 0; c < r.headers.size(); ++c) {
        size_t w = display_width(r.headers[c]);
        bool empty = true;
        for (const auto &row : escaped) {
            w = std::max(w, display_width(row[c]));
            empty = empty && row[c].empty();
        }
        if (empty) continue;
        shown.push_back(c);
        widths.push_back(w);
    }
    const size_t columns = truncate ? terminal_columns() : 0;
    if (columns > 0) fit_widths(widths, columns);
    auto print_row = [&](const std::vector<std::string> &row) {
        std::string line;
        for (size_t s = 0; s < shown.size(); ++s) {
            const std::string cell = truncate_to_width(row[shown[s]], widths[s]);
            line += cell;
            if (s + 1 < shown.size()) line.append(widths[s] - display_width(cell) + kColumnGap, ' ');
        }
        std::printf("%s\n", line.c_str());
    };
    print_row(r.headers);
    for (const auto &row : escaped) print_row(row);
}

void print_tab_separated(const rows &r) {
    for (const auto &row : r.cells) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) line.append(c ? "\t" : "").append(escape_cell(row[c]));
        std::printf("%s\n", line.c_str());
    }
}
