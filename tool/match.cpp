// `oxmeta match PATH...`: each file's TMDb entry, found by the library's
// oxmeta_tmdb_match, with what the name says, the pick and the runners-up
// with their scores.
#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "match_report.h"
#include "stdin_lines.h"

namespace {

constexpr size_t kMaxNameLine = 64 * 1024;  // bytes of a line of stdin kept

}  // namespace


void add_match_command(CLI::App &app, operation &op) {
    static std::vector<std::string> paths;
    CLI::App *match = app.add_subcommand(
        "match", "Media files matched to their TMDb entries, with scores (needs TMDB_API_KEY or --tmdb-key)");
    match->add_option("path", paths, "File names or paths of films or episodes; - reads one per line from stdin")
        ->required()
        ->check(non_empty());
    match->footer("A score runs from 0 to 1000; " + std::to_string(OXMETA_MATCH_CONFIDENT) +
                  " or more is a confident match.\n"
                  "Example: oxmeta --offline match \"Blade.Runner.1982.Final.Cut.1080p.BluRay.x264-GRP.mkv\"");
    match->callback([&op] {
        op = {"match", operation::service::tmdb, nullptr, nullptr, [](const run_context &run) {
                  int status = 0;
                  const auto one = [&](const std::string &path) {
                      if (path.empty()) return true;  // a blank line of stdin
                      const match_outcome o = match_file(path);
                      if (!o.matched()) status = 1;
                      if (!o.error.empty()) tell_match_error(o);
                      print_match(o, run.format, run.terminal);
                      return flush_output();
                  };
                  if (paths.size() == 1 && paths.front() == "-")
                      read_stdin_lines(kMaxNameLine, one);
                  else
                      for (const std::string &path : paths)
                          if (!one(path)) break;
                  return status;
              }};
    });
}
