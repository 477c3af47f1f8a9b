// `oxmeta organize SRC... --to LIBRARY`: the media files under SRC scanned
// as `scan` does, then filed into a media-server library under the names
// it expects. --dry-run prints the plan alone; otherwise every step is
// journalled, so that a killed run is finished with --resume and a
// finished one undone with `organize undo`.
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "json_line.h"
#include "library_names.h"
#include "organize_artwork.h"
#include "organize_journal.h"
#include "organize_nfo.h"
#include "organize_plan.h"
#include "output.h"
#include "scan.h"
#include "sizes.h"
#include "terminal.h"

namespace {

struct organize_options {
    scan_options scan;
    std::string library;
    std::string layout = "jellyfin";
    std::string template_text;
    std::string conflict = "fail";
    std::string action = "move";
    bool dry_run = false;
    bool nfo = false;
    bool artwork = false;
    bool resume = false;
    bool quiet = false;
    std::string undo_run;
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

// One entry of the plan: the action ("move", "copy", ...) with its
// destination, or "leave" with why.
void plan_line(std::string &out, output_format format, const char *action, const std::string &source, const char *key,
               const std::string &value) {
    const bool move = std::string(action) != "leave";
    if (format == output_format::json) {
        out += "{";
        json_key(out, "action");
        append_json_string(out, action);
        json_key(out, "source");
        append_json_string(out, source);
        json_key(out, key);
        append_json_string(out, value);
        out += "}\n";
    } else if (format == output_format::tsv) {
        out += std::string(action) + "\t" + escape_cell(source) + "\t" + escape_cell(value) + "\n";
    } else {
        out += std::string(action) + " " + escape_cell(source) + (move ? "\n  -> " : "\n  (") + escape_cell(value) +
               (move ? "\n" : ")\n");
    }
}

// A file to be written: "write" with its path and what it holds.
void write_line(std::string &out, output_format format, const plan_write &w) {
    if (format == output_format::json) {
        out += "{";
        json_key(out, "action");
        append_json_string(out, "write");
        json_key(out, "destination");
        append_json_string(out, w.path);
        json_key(out, "kind");
        append_json_string(out, w.kind);
        out += "}\n";
    } else if (format == output_format::tsv) {
        out += "write\t" + escape_cell(w.path) + "\t" + w.kind + "\n";
    } else {
        out += "write " + escape_cell(w.path) + "\n  (" + w.kind + ")\n";
    }
}

void print_plan(const organize_plan &plan, file_action action, output_format format) {
    std::string out;
    for (const plan_step &s : plan.steps) plan_line(out, format, action_name(action), s.source, "destination", s.destination);
    for (const plan_write &w : plan.writes) write_line(out, format, w);
    for (const plan_left &l : plan.left) plan_line(out, format, "leave", l.source, "reason", l.reason);
    std::fwrite(out.data(), 1, out.size(), stdout);
}

// Files a folder may hold and still be empty to a person.
bool clutter(const std::string &name) { return name == "Thumbs.db" || name == ".DS_Store" || name == "desktop.ini"; }

// The folders the moves emptied, below a source (never a source itself nor
// above one), removed when they hold nothing but clutter.
void remove_emptied_folders(const organize_plan &plan, const std::vector<std::string> &roots) {
    std::set<std::string> folders;
    for (const plan_step &s : plan.steps)
        if (access(s.source.c_str(), F_OK) != 0) folders.insert(std::filesystem::path(s.source).parent_path().string());
    // Deepest first, so that a parent is looked at after its children.
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
        for (std::string folder = *it;; folder = std::filesystem::path(folder).parent_path().string()) {
            const bool below_root = std::any_of(roots.begin(), roots.end(), [&](const std::string &root) {
                return folder != root && inside(folder, root);
            });
            if (!below_root) break;
            std::error_code ec;
            std::vector<std::string> names;
            for (const auto &e : std::filesystem::directory_iterator(folder, ec)) names.push_back(e.path().filename().string());
            if (ec || !std::all_of(names.begin(), names.end(), clutter)) break;
            for (const std::string &name : names) unlink((folder + "/" + name).c_str());
            if (rmdir(folder.c_str()) != 0) break;
        }
    }
}

// ", 4 .nfo written, 2 images written" where there are any.
std::string nfo_count(const organize_tally &t, const char *what) {
    std::string out;
    if (t.written > 0) out.append(", ").append(std::to_string(t.written)).append(" .nfo ").append(what);
    if (t.images > 0)
        out.append(", ").append(std::to_string(t.images)).append(t.images == 1 ? " image " : " images ").append(what);
    return out;
}

// " and 4 .nfo and 3 images" where the plan writes any.
std::string writes_count(const organize_plan &plan) {
    const size_t images = static_cast<size_t>(
        std::count_if(plan.writes.begin(), plan.writes.end(), [](const plan_write &w) { return w.fetched; }));
    const size_t nfo = plan.writes.size() - images;
    std::string out;
    if (nfo > 0) out.append(" and ").append(std::to_string(nfo)).append(" .nfo");
    if (images > 0) out.append(" and ").append(std::to_string(images)).append(images == 1 ? " image" : " images");
    return out;
}

void tell_tally(const char *what, const organize_tally &t) {
    std::fprintf(stderr, "oxmeta: %s: %zu moved, %zu copied, %zu linked%s, %zu skipped, %zu failed\n", what, t.moved, t.copied,
                 t.linked, nfo_count(t, "written").c_str(), t.skipped, t.failed);
}

void tell_undo_tally(const organize_tally &t) {
    std::fprintf(stderr, "oxmeta: organize undo: %zu restored, %zu removed%s, %zu kept\n", t.moved, t.removed,
                 nfo_count(t, "removed").c_str(), t.skipped);
}

// The folder itself, or the nearest one above it that exists.
std::string existing_folder(std::string path) {
    struct stat st{};
    while (stat(path.c_str(), &st) != 0 && path != "/") path = std::filesystem::path(path).parent_path().string();
    return path;
}

// Bytes the plan writes anew into the library: every file for a copy, the
// files from another device for a move or a hard link that may copy; none
// for links and for clones, which share their blocks.
uint64_t bytes_to_copy(const organize_plan &plan, file_action action, dev_t library_device) {
    uint64_t bytes = 0;
    for (const plan_step &s : plan.steps) {
        struct stat st{};
        if (lstat(s.source.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        const bool elsewhere = st.st_dev != library_device;
        if (action == file_action::copy || (elsewhere && (action == file_action::move || action == file_action::hardlink_or_copy)))
            bytes += static_cast<uint64_t>(st.st_size);
    }
    return bytes;
}

// Whether the library's device has room for the plan's copies; says why
// not. A margin is kept for the folders and the filesystem's own needs.
bool room_for(const organize_plan &plan, file_action action, const std::string &library) {
    const std::string folder = existing_folder(library);
    struct stat st{};
    struct statvfs fs{};
    if (stat(folder.c_str(), &st) != 0 || statvfs(folder.c_str(), &fs) != 0) return true;  // the steps will tell
    const uint64_t needed = bytes_to_copy(plan, action, st.st_dev);
    if (needed == 0) return true;
    const uint64_t free_bytes = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
    const uint64_t margin = std::min<uint64_t>(needed / 100 + (uint64_t{16} << 20), uint64_t{1} << 30);
    if (needed + margin <= free_bytes) return true;
    std::fprintf(stderr, "oxmeta: organize: not enough free space in %s: the copies need %s, %s is free; nothing done\n",
                 escape_cell(folder).c_str(), byte_size_text(needed + margin).c_str(), byte_size_text(free_bytes).c_str());
    return false;
}

// `organize undo [RUN]`: needs no service, only the journal.
int run_undo(bool json) {
    const organize_options &o = g_organize;
    const std::string state = state_folder();
    if (state.empty()) {
        std::fprintf(stderr, "oxmeta: organize undo: no place for the journal (set XDG_STATE_HOME or HOME)\n");
        return 2;
    }
    if (const std::string open = unfinished_journal(state); !open.empty()) {
        std::fprintf(stderr, "oxmeta: organize undo: the run in %s is not finished: run oxmeta organize --resume first\n",
                     escape_cell(open).c_str());
        return 1;
    }
    organize_tally t;
    const bool ok = undo_run(state, o.undo_run, json, t);
    tell_undo_tally(t);
    return ok && t.failed == 0 && t.skipped == 0 ? 0 : 1;
}

// `organize --resume`: the unfinished run finished, from its journal.
int run_resume(bool json) {
    const std::string state = state_folder();
    const std::string open = state.empty() ? "" : unfinished_journal(state);
    if (open.empty()) {
        std::fprintf(stderr, "oxmeta: organize: no unfinished run to resume in %s\n", escape_cell(state).c_str());
        return 0;
    }
    organize_tally t;
    const bool ok = resume_run(open, json, t);
    tell_tally("organize", t);
    return ok && t.failed == 0 ? 0 : 1;
}

int run_organize(const run_context &run) {
    organize_options &o = g_organize;
    const bool json = run.format == output_format::json;
    const std::string state = state_folder();
    if (!o.dry_run) {
        if (state.empty()) {
            std::fprintf(stderr, "oxmeta: organize: no place for the journal (set XDG_STATE_HOME or HOME)\n");
            return 2;
        }
    }
    if (o.scan.dirs.empty() || o.library.empty()) {
        std::fprintf(stderr, "oxmeta: organize: give SRC... and --to LIBRARY\nRun 'oxmeta organize --help' for usage.\n");
        return 2;
    }
    if (!o.dry_run) {
        if (const std::string open = unfinished_journal(state); !open.empty()) {
            std::fprintf(stderr,
                         "oxmeta: organize: a run was not finished (its journal: %s); run oxmeta organize --resume first\n",
                         escape_cell(open).c_str());
            return 1;
        }
    }
    if (!o.template_text.empty()) {
        if (const std::string problem = template_problem(o.template_text); !problem.empty()) {
            std::fprintf(stderr, "oxmeta: organize: --template: %s\n", problem.c_str());
            return 2;
        }
        o.layout.clear();
    }
    file_action action = file_action::move;
    action_from_name(o.action, action);
    const std::string library = absolute(o.library);
    for (std::string &dir : o.scan.dirs) {
        dir = absolute(dir);
        if (inside(library, dir)) {
            std::fprintf(stderr, "oxmeta: organize: the library %s is inside the source %s; choose a library outside it\n",
                         escape_cell(library).c_str(), escape_cell(dir).c_str());
            return 2;
        }
    }
    o.scan.quiet = o.quiet;
    // Metadata files: asked for, or always with Kodi's layout.
    const bool nfo = o.nfo || o.layout == "kodi";
    nfo_lookups lookups;  // the details give the images' paths too
    std::vector<match_outcome> outcomes;
    const int scanned = scan_media(
        run, o.scan, "organize",
        [&outcomes](const match_outcome &m) {
            outcomes.push_back(m);
            return true;
        },
        nfo || o.artwork ? std::function<void(const match_outcome &)>([&lookups](const match_outcome &m) { lookups.look_up(m); })
            : nullptr);
    if (scanned == 2) return 2;
    // A file reached through a link to a folder outside every SRC stays
    // where it is: organize moves only what is inside SRC.
    std::vector<std::string> real_roots;
    for (const std::string &dir : o.scan.dirs) {
        std::error_code ec;
        const std::filesystem::path real = std::filesystem::canonical(dir, ec);
        if (!ec) real_roots.push_back(std::filesystem::is_directory(real) ? real.string() : real.parent_path().string());
    }
    std::vector<match_outcome> inside_src;
    std::vector<plan_left> outside;
    for (match_outcome &m : outcomes) {
        std::error_code ec;
        const std::filesystem::path folder = std::filesystem::canonical(std::filesystem::path(m.input).parent_path(), ec);
        const bool in = !ec && std::any_of(real_roots.begin(), real_roots.end(),
                                           [&](const std::string &root) { return inside(folder.string(), root); });
        if (in) inside_src.push_back(std::move(m));
        else outside.push_back({m.input, "reached through a link to a folder outside the sources; left as it is", false});
    }
    organize_plan plan = make_plan(inside_src, {library, o.layout, o.template_text, o.conflict == "skip", o.conflict == "index",
                                                   action != file_action::move});
    plan.left.insert(plan.left.end(), outside.begin(), outside.end());
    size_t lookups_failed = 0;
    if (nfo) plan.writes = plan_nfo_files(plan, inside_src, lookups, library, lookups_failed);
    if (o.artwork) {
        const std::vector<plan_write> images = plan_artwork_files(plan, inside_src, lookups, library, lookups_failed);
        plan.writes.insert(plan.writes.end(), images.begin(), images.end());
    }
    print_plan(plan, action, run.format);
    if (!flush_output()) return 2;
    if (!o.quiet)
        std::fprintf(stderr, "oxmeta: organize: plan of %zu %s%s%s, %zu %s left where %s%s\n", plan.steps.size(),
                     plan.steps.size() == 1 ? "step" : "steps",
                     action == file_action::move ? "" : (std::string(" (") + action_name(action) + ")").c_str(),
                     writes_count(plan).c_str(),
                     plan.left.size(), plan.left.size() == 1 ? "file" : "files",
                     plan.left.size() == 1 ? "it is" : "they are", o.dry_run ? " (dry run: nothing touched)" : "");
    // Files organize cannot place (unmatched, ambiguous) are listed, not failures.
    const bool any_failed = lookups_failed > 0 ||
                            std::any_of(plan.left.begin(), plan.left.end(), [](const plan_left &l) { return l.failed; });
    if (o.dry_run) return any_failed ? 1 : 0;
    if (!room_for(plan, action, library)) return 1;
    organize_tally t;
    t.skipped = plan.left.size();
    // Nothing to do leaves no journal.
    // The images' bytes come through a chain of the run's own kind, not
    // through the library, whose replies are text.
    std::unique_ptr<transport_chain> images;
    if (o.artwork && !plan.steps.empty()) images = run.another_transport();
    const bool ok = plan.steps.empty() ||
                    apply_plan(plan, action, state, json, t, images ? image_fetcher(*images) : nullptr);
    if (action == file_action::move) remove_emptied_folders(plan, o.scan.dirs);
    tell_tally("organize", t);
    return ok && t.failed == 0 && !any_failed ? 0 : 1;
}

}  // namespace

void add_organize_command(CLI::App &app, operation &op) {
    organize_options &o = g_organize;
    CLI::App *cmd = app.add_subcommand("organize", "Matched media files filed into a media-server library (needs TMDB_API_KEY or --tmdb-key)");
    cmd->add_option("src", o.scan.dirs, "Folders (or files) to organize");
    cmd->add_option("--to", o.library, "The library folder the files go to")->option_text("LIBRARY")->check(non_empty());
    cmd->add_option("--layout", o.layout, "jellyfin (the default), plex or kodi")
        ->option_text("LAYOUT")
        ->check(one_of({"jellyfin", "plex", "kodi"}));
    cmd->add_option("--template", o.template_text,
                    "Names from tokens instead of a layout: {title} {year} {tmdb} {imdb} {season:02} {episode:02} "
                    "{episode_title} {edition} {screen_size} {ext}")
        ->option_text("TEXT")
        ->check(non_empty());
    cmd->add_option("--conflict", o.conflict,
                    "A destination that exists: fail (the default) or skip that file, or index its name (\"Name (2).mkv\")")
        ->option_text("WHAT")
        ->check(one_of({"fail", "skip", "index"}));
    cmd->add_option("--action", o.action,
                    "move (the default), copy, hardlink, symlink, reflink, or hardlink-or-copy (a copy only where a hard "
                    "link cannot cross devices); all but move leave the sources where they are")
        ->option_text("ACTION")
        ->check(one_of({"move", "copy", "hardlink", "symlink", "reflink", "hardlink-or-copy"}));
    cmd->add_flag("--dry-run,-n", o.dry_run, "Print the plan and touch nothing");
    cmd->add_flag("--nfo", o.nfo,
                  "Write an .nfo beside each video (and tvshow.nfo in a show's folder) from TMDb, never replacing "
                  "one; always with the kodi layout");
    cmd->add_flag("--artwork", o.artwork,
                  "Save poster.jpg and fanart.jpg in a film's folder, poster.jpg and folder.jpg in a show's, from "
                  "TMDb (each at most --max-reply-size), never replacing one");
    cmd->add_flag("--resume", o.resume, "Finish the run that was stopped (its journal is in $XDG_STATE_HOME/oxmeta)");
    add_scan_options(cmd, o.scan);
    cmd->add_flag("--quiet,-q", o.quiet, "No progress line and no summary");
    cmd->footer("Exit status: 0 every planned step done (with --dry-run: the plan made; unmatched and ambiguous\n"
                "files are listed and left), 1 a file failed (no reply, a conflict, a step) or a run waits for\n"
                "--resume, 2 usage. Nothing is ever replaced; `oxmeta organize undo` puts a run back.\n"
                "Example: mkdir -p Films && touch Films/The.Thing.1982.1080p.BluRay.x264-GRP.mkv && "
                "oxmeta --offline organize --dry-run Films --to Library");
    cmd->callback([&op, cmd] {
        if (cmd->got_subcommand("undo")) return;  // undo set op
        if (g_organize.resume) {
            // Finishing a run needs the journal alone.
            op = {"organize", operation::service::local, nullptr,
                  [](const output_choice &c) { return run_resume(c.asked == output_format::json); }};
            return;
        }
        op = {"organize", operation::service::tmdb, nullptr, nullptr, run_organize};
        op.whole_run_deadline = false;
    });
    CLI::App *undo = cmd->add_subcommand("undo", "Put the files of a run back where they were (default: the latest run)");
    undo->add_option("run", o.undo_run, "The run, as its journal names it (organize-RUN.journal)");
    undo->footer("Exit status: 0 every file is back, 1 some were kept where they are (changed, or their first\n"
                 "path taken), 2 usage.\n"
                 "Example: mkdir -p Films && touch Films/The.Thing.1982.mkv && oxmeta --offline organize Films --to "
                 "Library && oxmeta organize undo");
    undo->callback([&op] {
        op = {"organize undo", operation::service::local, nullptr,
              [](const output_choice &c) { return run_undo(c.asked == output_format::json); }};
    });
}
