// `oxmeta organize SRC... --to LIBRARY`: the media files under SRC scanned
// as `scan` does, then filed into a media-server library under the names
// it expects. This version prints the plan (--dry-run) and does nothing
// else: applying it comes with its journal.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "json_line.h"
#include "library_names.h"
#include "organize_plan.h"
#include "output.h"
#include "scan.h"
#include "terminal.h"

namespace {

struct organize_options {
    scan_options scan;
    std::string library;
    std::string layout = "jellyfin";
    std::string template_text;
    std::string conflict = "fail";
    bool dry_run = false;
    bool quiet = false;
};

organize_options g_organize;

// An absolute, normal form of path (without resolving links), so that a
// library inside a source is seen whatever way each was written.
std::string absolute(const std::string &path) {
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::absolute(path, ec).lexically_normal();
    std::string text = p.string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

bool inside(const std::string &path, const std::string &folder) {
    return path == folder || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
                              (folder == "/" || path[folder.size()] == '/'));
}

void print_plan(const organize_plan &plan, output_format format) {
    std::string out;
    for (const plan_step &s : plan.steps) {
        if (format == output_format::json) {
            out += "{";
            json_key(out, "action");
            append_json_string(out, "move");
            json_key(out, "source");
            append_json_string(out, s.source);
            json_key(out, "destination");
            append_json_string(out, s.destination);
            out += "}\n";
        } else if (format == output_format::tsv) {
            out += "move\t" + escape_cell(s.source) + "\t" + escape_cell(s.destination) + "\n";
        } else {
            out += "move " + escape_cell(s.source) + "\n  -> " + escape_cell(s.destination) + "\n";
        }
    }
    for (const plan_left &l : plan.left) {
        if (format == output_format::json) {
            out += "{";
            json_key(out, "action");
            append_json_string(out, "leave");
            json_key(out, "source");
            append_json_string(out, l.source);
            json_key(out, "reason");
            append_json_string(out, l.reason);
            out += "}\n";
        } else if (format == output_format::tsv) {
            out += "leave\t" + escape_cell(l.source) + "\t" + escape_cell(l.reason) + "\n";
        } else {
            out += "leave " + escape_cell(l.source) + "\n  (" + escape_cell(l.reason) + ")\n";
        }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
}

int run_organize(const run_context &run) {
    organize_options &o = g_organize;
    if (!o.template_text.empty()) {
        if (const std::string problem = template_problem(o.template_text); !problem.empty()) {
            std::fprintf(stderr, "oxmeta: organize: --template: %s\n", problem.c_str());
            return 2;
        }
        o.layout.clear();
    }
    const std::string library = absolute(o.library);
    for (std::string &dir : o.scan.dirs) {
        dir = absolute(dir);
        if (inside(library, dir)) {
            std::fprintf(stderr, "oxmeta: organize: the library %s is inside the source %s; choose a library outside it\n",
                         escape_cell(library).c_str(), escape_cell(dir).c_str());
            return 2;
        }
    }
    if (!o.dry_run) {
        std::fprintf(stderr, "oxmeta: organize: this version only plans: add --dry-run to see the plan\n");
        return 2;
    }
    o.scan.quiet = o.quiet;
    std::vector<match_outcome> outcomes;
    const int scanned = scan_media(run, o.scan, "organize", [&outcomes](const match_outcome &m) {
        outcomes.push_back(m);
        return true;
    });
    if (scanned == 2) return 2;
    const organize_plan plan = make_plan(outcomes, {library, o.layout, o.template_text, o.conflict == "skip"});
    print_plan(plan, run.format);
    if (!o.quiet)
        std::fprintf(stderr, "oxmeta: organize: plan of %zu %s, %zu %s left where %s (dry run: nothing touched)\n",
                     plan.steps.size(), plan.steps.size() == 1 ? "move" : "moves", plan.left.size(),
                     plan.left.size() == 1 ? "file" : "files", plan.left.size() == 1 ? "it is" : "they are");
    // Files organize cannot place (unmatched, ambiguous) are listed, not failures.
    const bool any_failed = std::any_of(plan.left.begin(), plan.left.end(), [](const plan_left &l) { return l.failed; });
    return any_failed ? 1 : 0;
}

}  // namespace

void add_organize_command(CLI::App &app, operation &op) {
    organize_options &o = g_organize;
    CLI::App *cmd = app.add_subcommand("organize", "Matched media files filed into a media-server library (needs TMDB_API_KEY or --tmdb-key)");
    cmd->add_option("src", o.scan.dirs, "Folders (or files) to organize")->required();
    cmd->add_option("--to", o.library, "The library folder the files go to")->option_text("LIBRARY")->required()->check(non_empty());
    cmd->add_option("--layout", o.layout, "jellyfin (the default), plex or kodi")
        ->option_text("LAYOUT")
        ->check(one_of({"jellyfin", "plex", "kodi"}));
    cmd->add_option("--template", o.template_text,
                    "Names from tokens instead of a layout: {title} {year} {tmdb} {imdb} {season:02} {episode:02} "
                    "{episode_title} {edition} {screen_size} {ext}")
        ->option_text("TEXT")
        ->check(non_empty());
    cmd->add_option("--conflict", o.conflict, "A destination that exists: fail (the default) or skip that file")
        ->option_text("WHAT")
        ->check(one_of({"fail", "skip"}));
    cmd->add_flag("--dry-run,-n", o.dry_run, "Print the plan and touch nothing");
    add_scan_options(cmd, o.scan);
    cmd->add_flag("--quiet,-q", o.quiet, "No progress line and no summary");
    cmd->footer("Exit status: 0 the plan was made (unmatched and ambiguous files are listed and left), 1 a file\n"
                "failed (no reply, or a conflict), 2 usage.\n"
                "Example: mkdir -p Films && touch Films/The.Thing.1982.1080p.BluRay.x264-GRP.mkv && "
                "oxmeta --offline organize --dry-run Films --to Library");
    cmd->callback([&op] {
        op = {"organize", operation::service::tmdb, nullptr, nullptr, run_organize};
        op.whole_run_deadline = false;
    });
}
