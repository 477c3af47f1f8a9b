// `oxmeta parse NAME...` and `oxmeta parse -`: what media file names say,
// read by the library's oxmeta_parse_name with no network and no key.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "commands.h"
#include "json_line.h"
#include "name_fields.h"
#include "oxmeta.h"
#include "rows.h"

namespace {

constexpr size_t kMaxLine = 64 * 1024;  // bytes of a line kept; the rest is read and dropped

// One JSON line: the input, then every field.
void append_json_line(std::string &out, std::string_view input, const oxmeta_name &n) {
    out += '{';
    append_input_members(out, input);
    append_name_members(out, n);
    out += "}\n";
}

// Parses one name and prints it (JSON Lines, a tab-separated row) or keeps
// its row for the table.
struct printer {
    output_format format;
    bool truncate;
    rows table{name_headers(), {}};
    std::string line = {};

    void add(const std::string &input) {
        oxmeta_name n;
        n.size = sizeof n;
        oxmeta_parse_name(input.c_str(), &n);
        if (format == output_format::json) {
            line.clear();
            append_json_line(line, input, n);
            std::fwrite(line.data(), 1, line.size(), stdout);
        } else if (format == output_format::tsv) {
            rows one{name_headers(), {name_cells(n)}};
            print_tab_separated(one);
        } else {
            table.cells.push_back(name_cells(n));
        }
    }
    void finish() {
        if (format == output_format::table) print_aligned(table, truncate);
    }
};

// One name per line of stdin, streamed in constant memory; a line longer
// than kMaxLine is cut there. Output is flushed whenever the input read so
// far is used up, so that a program feeding names one at a time gets each
// answer at once, and a large input is written in large blocks.
void read_lines(printer &p) {
    static char buffer[1 << 16];
    std::string current;
    bool overlong = false;
    for (;;) {
        const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        size_t at = 0;
        const auto size = static_cast<size_t>(got);
        while (at < size) {
            const char *newline = static_cast<const char *>(std::memchr(buffer + at, '\n', size - at));
            const size_t end = newline ? static_cast<size_t>(newline - buffer) : size;
            if (!overlong) {
                const size_t room = kMaxLine - std::min(current.size(), kMaxLine);
                current.append(buffer + at, std::min(end - at, room));
                overlong = current.size() >= kMaxLine;
            }
            at = end;
            if (!newline) break;
            ++at;
            if (!current.empty() && current.back() == '\r') current.pop_back();
            p.add(current);
            current.clear();
            overlong = false;
        }
        std::fflush(stdout);
    }
    if (!current.empty()) p.add(current);
}

}  // namespace

void add_parse_command(CLI::App &app, operation &op) {
    static std::vector<std::string> names;
    CLI::App *parse = app.add_subcommand("parse", "What media file names say: title, year, season, episodes, tags (no request)");
    parse->add_option("name", names, "File names or paths; - reads one per line from stdin")->required();
    parse->footer("Example: oxmeta parse \"Dark.City.1998.DC.1080p.BluRay.x264-GRP.mkv\"");
    parse->callback([&op] {
        op = {"parse", operation::service::local, nullptr, [](const output_choice &choice) {
                  const bool from_stdin = names.size() == 1 && names.front() == "-";
                  const output_format format = choice.asked.value_or(
                      from_stdin && !choice.terminal ? output_format::json
                      : choice.terminal              ? output_format::table
                                                     : output_format::tsv);
                  static char buffer[1 << 16];
                  std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
                  printer p{format, choice.terminal};
                  if (from_stdin)
                      read_lines(p);
                  else
                      for (const std::string &name : names) p.add(name);
                  p.finish();
                  return 0;
              }};
    });
}
