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
#include "stdin_lines.h"

namespace {

constexpr size_t kMaxLine = 64 * 1024;  // bytes of a line of stdin kept; the rest is read and dropped

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
    rows table{headers(), {}};
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
            print_tab_separated(rows{headers(), {cells(input, n)}});
        } else {
            table.cells.push_back(cells(input, n));
        }
    }
    // The input first, then what it says.
    static std::vector<std::string> headers() {
        std::vector<std::string> h = name_headers();
        h.insert(h.begin(), "input");
        return h;
    }
    static std::vector<std::string> cells(const std::string &input, const oxmeta_name &n) {
        std::vector<std::string> c = name_cells(n);
        c.insert(c.begin(), input);
        return c;
    }
    void finish() {
        if (format == output_format::table) print_aligned(table, truncate);
    }
};

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
                      read_stdin_lines(kMaxLine, [&p](const std::string &line) {
                          p.add(line);
                          return true;
                      });
                  else
                      for (const std::string &name : names) p.add(name);
                  p.finish();
                  return 0;
              }};
    });
}
