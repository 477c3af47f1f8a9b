// The journal: one JSON object a line, each synced before the step it
// announces is taken. Lines: {"run"}, {"step","source","destination"} for
// the whole plan, {"planned"}, then {"intent"}, {"done","size","mtime"} or
// {"failed","error"} per step, {"end"}; an undo adds {"undo"}, {"undone"}
// or {"kept","error"}, and {"undo_end"}.
#include "organize_journal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <set>

#include <yyjson.h>

#include "file_moves.h"
#include "json_line.h"
#include "organize_nfo.h"
#include "terminal.h"

namespace {

constexpr const char kPrefix[] = "organize-";
constexpr const char kSuffix[] = ".journal";

std::string folder_of(const std::string &path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

struct step_state {
    std::string source, destination;
    bool intent = false, done = false, failed = false;
    long long size = -1, mtime = -1;
    std::string hash{};  // of a copy's bytes, when the step copied
    bool undone = false, undo_intent = false, kept = false;
};

struct journal_state {
    std::string run;
    file_action action = file_action::move;
    bool planned = false, ended = false, undo_ended = false, undo_started = false;
    std::vector<step_state> steps;
    std::vector<journalled_write> writes;  // the metadata files, after the steps
};

journal_state read_journal(const std::string &path) {
    journal_state j;
    FILE *f = std::fopen(path.c_str(), "r");
    if (!f) return j;
    std::string line;
    for (int c; (c = std::fgetc(f)) != EOF;) {
        if (c != '\n') {
            line += static_cast<char>(c);
            continue;
        }
        yyjson_doc *doc = yyjson_read(line.data(), line.size(), 0);
        line.clear();
        if (!doc) continue;  // a line cut by a crash
        yyjson_val *root = yyjson_doc_get_root(doc);
        const auto num = [&](const char *key) { return yyjson_get_sint(yyjson_obj_get(root, key)); };
        const auto str = [&](const char *key) {
            const char *s = yyjson_get_str(yyjson_obj_get(root, key));
            return std::string(s ? s : "");
        };
        const auto at = [&](const char *key) -> step_state * {
            yyjson_val *v = yyjson_obj_get(root, key);
            if (!v) return nullptr;
            const long long i = yyjson_get_sint(v);
            return i >= 0 && static_cast<size_t>(i) < j.steps.size() ? &j.steps[static_cast<size_t>(i)] : nullptr;
        };
        if (yyjson_obj_get(root, "run")) {
            j.run = str("run");
            // A run of an earlier version, with no action, moved its files.
            if (!action_from_name(str("action"), j.action)) j.action = file_action::move;
        }
        if (yyjson_obj_get(root, "step") && !j.planned) j.steps.push_back({str("source"), str("destination")});
        if (yyjson_obj_get(root, "planned")) j.planned = true;
        if (yyjson_obj_get(root, "end")) j.ended = true;
        if (yyjson_obj_get(root, "undo_end")) j.undo_ended = true;
        if (step_state *s = at("intent")) s->intent = true;
        if (step_state *s = at("done")) s->done = true, s->size = num("size"), s->mtime = num("mtime"), s->hash = str("hash");
        if (step_state *s = at("failed")) s->failed = true;
        if (step_state *s = at("undo")) s->undo_intent = true, j.undo_started = true;
        if (step_state *s = at("undone")) s->undone = true;
        if (step_state *s = at("kept")) s->kept = true;
        read_write_line(root, j.writes);
        yyjson_doc_free(doc);
    }
    std::fclose(f);
    return j;
}

// Appends lines to a journal, each synced before the call returns.
class journal_writer {
public:
    explicit journal_writer(const std::string &path) : fd_(open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600)) {}
    ~journal_writer() {
        if (fd_ >= 0) close(fd_);
    }
    journal_writer(const journal_writer &) = delete;
    journal_writer &operator=(const journal_writer &) = delete;
    bool ok() const { return fd_ >= 0 && ok_; }
    bool add(const std::string &line) {
        const std::string text = line + "\n";
        size_t off = 0;
        while (ok_ && off < text.size()) {
            const ssize_t n = write(fd_, text.data() + off, text.size() - off);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) ok_ = false;
            else off += static_cast<size_t>(n);
        }
        if (ok_ && fdatasync(fd_) != 0) ok_ = false;
        return ok_;
    }

private:
    int fd_;
    bool ok_ = true;
};

std::string object(const char *key, long long value, const std::string &more = "") {
    std::string out = "{\"";
    out.append(key).append("\":").append(std::to_string(value)).append(more).append("}");
    return out;
}

// ,"key":"value"
std::string text_member(const char *key, const std::string &value) {
    std::string out = "{";
    json_key(out, key);
    append_json_string(out, value);
    out[0] = ',';
    return out;
}

void tell(bool json, const char *what, const std::string &source, const std::string &destination, const std::string &error) {
    std::string out;
    if (json) {
        out = "{";
        json_key(out, "result");
        append_json_string(out, what);
        json_key(out, "source");
        append_json_string(out, source);
        json_key(out, "destination");
        append_json_string(out, destination);
        json_key(out, "error");
        if (error.empty()) out += "null";
        else append_json_string(out, error);
        out += "}\n";
    } else {
        out.append(what).append("\t").append(escape_cell(source)).append("\t").append(escape_cell(destination));
        if (!error.empty()) out.append("\t").append(escape_cell(error));
        out += '\n';
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
}

// What a step did, as told and counted.
const char *outcome_word(const move_result &r) { return r.linked ? "linked" : r.copied ? "copied" : "moved"; }

void count(organize_tally &tally, const move_result &r) { ++(r.linked ? tally.linked : r.copied ? tally.copied : tally.moved); }

std::string done_line(size_t i, const std::string &destination, bool copied) {
    struct stat st{};
    lstat(destination.c_str(), &st);
    const long long mtime = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    std::string more = ",\"size\":" + std::to_string(static_cast<long long>(st.st_size)) + ",\"mtime\":" + std::to_string(mtime) +
                       ",\"copied\":" + (copied ? "true" : "false");
    // A copy's bytes are known again by their hash: undo takes back only
    // the copy it made, not one edited since (whatever its size and time).
    if (copied && S_ISREG(st.st_mode)) more += text_member("hash", file_hash(destination));
    return object("done", static_cast<long long>(i), more);
}

// One step, journalled: its intent, the move (or copy, or link), its outcome.
bool do_step(journal_writer &w, file_action action, size_t i, const std::string &source, const std::string &destination,
             bool json, organize_tally &tally) {
    if (!w.add(object("intent", static_cast<long long>(i)))) return false;
    std::string reason;
    move_result r;
    if (!make_folders(folder_of(destination), reason)) r.error = reason;
    else r = place_file(action, source, destination);
    if (r.ok) {
        count(tally, r);
        tell(json, outcome_word(r), source, destination, "");
        return w.add(done_line(i, destination, r.copied));
    }
    ++tally.failed;
    tell(json, "failed", source, destination, r.error);
    return w.add(object("failed", static_cast<long long>(i), text_member("error", r.error)));
}

journal_hooks hooks_of(journal_writer &w, bool json, const decltype(journal_hooks::fetch) &fetch = nullptr) {
    return {[&w](const std::string &line) { return w.add(line); },
            [json](const char *what, const std::string &path, const std::string &error) { tell(json, what, "", path, error); },
            fetch};
}

bool write_files(journal_writer &w, std::vector<journalled_write> &writes, bool json, organize_tally &tally,
                 const decltype(journal_hooks::fetch) &fetch) {
    return finish_writes(writes, hooks_of(w, json, fetch), tally.written, tally.images, tally.skipped, tally.failed);
}

std::string run_name() {
    char text[64];
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &tm);
    return std::string(text) + "-" + std::to_string(static_cast<long>(getpid()));
}

std::vector<std::string> journals(const std::string &folder) {
    std::vector<std::string> found;
    DIR *dir = opendir(folder.c_str());
    if (!dir) return found;
    const std::string prefix = kPrefix, suffix = kSuffix;
    while (const dirent *e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name.size() > prefix.size() + suffix.size() && name.rfind(prefix, 0) == 0 &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            found.push_back(folder + "/" + name);
    }
    closedir(dir);
    std::sort(found.begin(), found.end());
    return found;
}

}  // namespace

std::string state_folder() {
    const char *state = std::getenv("XDG_STATE_HOME");
    if (state && *state == '/') return std::string(state) + "/oxmeta";
    const char *home = std::getenv("HOME");
    if (home && *home) return std::string(home) + "/.local/state/oxmeta";
    return "";
}

std::string unfinished_journal(const std::string &folder) {
    for (const std::string &path : journals(folder)) {
        const journal_state j = read_journal(path);
        if (!j.planned) continue;  // nothing was done before the plan was whole
        if (!j.ended || (j.undo_started && !j.undo_ended)) return path;
    }
    return "";
}

bool apply_plan(const organize_plan &plan, file_action action, const std::string &folder, bool json,
                organize_tally &tally, const decltype(journal_hooks::fetch) &fetch) {
    std::string reason;
    if (!make_folders(folder, reason)) {
        std::fprintf(stderr, "oxmeta: organize: no journal, nothing done: %s\n", escape_cell(reason).c_str());
        return false;
    }
    chmod(folder.c_str(), 0700);
    const std::string run = run_name();
    const std::string path = folder + "/" + kPrefix + run + kSuffix;
    journal_writer w(path);
    std::string run_line = text_member("run", run) + text_member("action", action_name(action));
    run_line[0] = '{';
    run_line += '}';
    bool ok = w.ok() && w.add(run_line);
    for (size_t i = 0; ok && i < plan.steps.size(); ++i)
        ok = w.add(object("step", static_cast<long long>(i),
                          text_member("source", plan.steps[i].source) + text_member("destination", plan.steps[i].destination)));
    for (const std::string &line : write_plan_lines(plan.writes)) ok = ok && w.add(line);
    ok = ok && w.add("{\"planned\":true}") && sync_folder(folder);
    if (!ok) {
        std::fprintf(stderr, "oxmeta: organize: the journal %s cannot be written (%s); nothing done\n",
                     escape_cell(path).c_str(), std::strerror(errno));
        return false;
    }
    for (size_t i = 0; i < plan.steps.size(); ++i) {
        if (!do_step(w, action, i, plan.steps[i].source, plan.steps[i].destination, json, tally)) {
            std::fprintf(stderr, "oxmeta: organize: the journal %s cannot be written; stopped (oxmeta organize --resume goes on)\n",
                         escape_cell(path).c_str());
            return false;
        }
    }
    std::vector<journalled_write> writes;
    for (const plan_write &file : plan.writes) writes.push_back({file});
    if (!write_files(w, writes, json, tally, fetch)) {
        std::fprintf(stderr, "oxmeta: organize: the journal %s cannot be written; stopped (oxmeta organize --resume goes on)\n",
                     escape_cell(path).c_str());
        return false;
    }
    return w.add("{\"end\":true}");
}

bool resume_run(const std::string &path, bool json, organize_tally &tally) {
    journal_state j = read_journal(path);
    journal_writer w(path);
    if (!w.ok()) return false;
    if (j.undo_started && !j.undo_ended) {
        std::fprintf(stderr, "oxmeta: organize: %s was being undone: run oxmeta organize undo again\n", escape_cell(path).c_str());
        return false;
    }
    for (size_t i = 0; i < j.steps.size(); ++i) {
        step_state &s = j.steps[i];
        if (s.done || s.failed) continue;
        if (s.intent && j.action != file_action::move) {
            // The source stays: the step is done when the destination is
            // what it made of it; the destination was free when planned.
            unlink(partial_name(s.destination).c_str());
            if (placed(j.action, s.source, s.destination)) {
                move_result r{true, j.action != file_action::hardlink && j.action != file_action::symlink, "",
                              j.action == file_action::symlink || j.action == file_action::hardlink};
                struct stat a{}, b{};
                if (j.action == file_action::hardlink_or_copy && lstat(s.source.c_str(), &a) == 0 &&
                    lstat(s.destination.c_str(), &b) == 0 && a.st_ino == b.st_ino && a.st_dev == b.st_dev)
                    r.copied = false, r.linked = true;
                count(tally, r);
                tell(json, outcome_word(r), s.source, s.destination, "");
                if (!w.add(done_line(i, s.destination, r.copied))) return false;
                continue;
            }
            if (exists(s.destination)) {
                ++tally.failed;
                tell(json, "failed", s.source, s.destination, "the destination holds another file; both are kept");
                if (!w.add(object("failed", static_cast<long long>(i), text_member("error", "both kept")))) return false;
                continue;
            }
        } else if (s.intent) {
            // What the files say of a step begun: its copy, if any, was ours.
            unlink(partial_name(s.destination).c_str());
            const bool at_source = exists(s.source), at_destination = exists(s.destination);
            if (!at_source && at_destination) {
                ++tally.moved;
                tell(json, "moved", s.source, s.destination, "");
                if (!w.add(done_line(i, s.destination, false))) return false;
                continue;
            }
            if (at_source && at_destination) {
                // A copy put in place before its source was removed.
                if (same_content(s.source, s.destination) && unlink(s.source.c_str()) == 0) {
                    ++tally.copied;
                    tell(json, "copied", s.source, s.destination, "");
                    if (!w.add(done_line(i, s.destination, true))) return false;
                } else {
                    ++tally.failed;
                    tell(json, "failed", s.source, s.destination, "both paths hold a file; both are kept");
                    if (!w.add(object("failed", static_cast<long long>(i), text_member("error", "both kept")))) return false;
                }
                continue;
            }
        }
        if (!do_step(w, j.action, i, s.source, s.destination, json, tally)) return false;
    }
    return write_files(w, j.writes, json, tally, nullptr) && w.add("{\"end\":true}");
}

bool undo_run(const std::string &folder, const std::string &run, bool json, organize_tally &tally) {
    std::string path;
    // By default the latest run not undone yet (a run stopped before its
    // plan was whole did nothing).
    for (const std::string &p : journals(folder)) {
        if (!run.empty()) {
            if (p == folder + "/" + kPrefix + run + kSuffix) path = p;
            continue;
        }
        const journal_state j = read_journal(p);
        if (j.planned && !j.undo_ended) path = p;
    }
    if (path.empty()) {
        std::fprintf(stderr, "oxmeta: organize undo: %s in %s\n",
                     run.empty() ? "no run left to undo" : ("no run " + escape_cell(run)).c_str(), escape_cell(folder).c_str());
        return false;
    }
    journal_state j = read_journal(path);
    if (!j.ended) {
        std::fprintf(stderr, "oxmeta: organize undo: the run in %s is not finished: run oxmeta organize --resume first\n",
                     escape_cell(path).c_str());
        return false;
    }
    journal_writer w(path);
    if (!w.ok()) return false;
    if (!undo_writes(j.writes, hooks_of(w, json), tally.written, tally.images, tally.skipped)) return false;
    const bool moved = j.action == file_action::move;
    for (size_t k = j.steps.size(); k-- > 0;) {
        step_state &s = j.steps[k];
        if (!s.done || s.undone || s.kept) continue;
        // A copy or a link is undone by removing it; a file moved goes back.
        const char *undone_word = moved ? "restored" : "removed";
        if (s.undo_intent && !exists(s.destination) && exists(s.source)) {
            ++(moved ? tally.moved : tally.removed);  // done before the last undo stopped
            tell(json, undone_word, s.destination, s.source, "");
            if (!w.add(object("undone", static_cast<long long>(k)))) return false;
            continue;
        }
        if (s.undo_intent) unlink(partial_name(s.source).c_str());
        struct stat st{};
        std::string problem;
        if (lstat(s.destination.c_str(), &st) != 0) problem = "it is no longer there";
        else if (st.st_size != s.size ||
                 static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec != s.mtime)
            problem = moved ? "it changed since it was moved" : "it changed since it was made";
        else if (!s.hash.empty() && file_hash(s.destination) != s.hash)
            problem = moved ? "it changed since it was moved" : "it changed since it was made";
        else if (moved && exists(s.source)) problem = "its first path is taken";
        else if (!moved && !placed(j.action, s.source, s.destination))
            problem = "its source is gone or no longer the same; it is the only copy left";
        if (problem.empty() && moved && !make_folders(folder_of(s.source), problem)) {}
        if (problem.empty()) {
            if (!w.add(object("undo", static_cast<long long>(k)))) return false;
            if (moved) {
                const move_result r = move_file(s.destination, s.source);
                if (!r.ok) problem = r.error;
            } else if (unlink(s.destination.c_str()) != 0) {
                problem = std::string("remove it: ") + std::strerror(errno);
            } else {
                sync_folder(folder_of(s.destination));
            }
        }
        if (!problem.empty()) {
            ++tally.skipped;
            tell(json, "kept", s.destination, s.source, problem);
            if (!w.add(object("kept", static_cast<long long>(k), text_member("error", problem)))) return false;
            continue;
        }
        ++(moved ? tally.moved : tally.removed);
        tell(json, undone_word, s.destination, s.source, "");
        if (!w.add(object("undone", static_cast<long long>(k)))) return false;
    }
    return w.add("{\"undo_end\":true}");
}
