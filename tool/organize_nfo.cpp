// The .nfo files: looked up through the library (a film's detail gives its
// IMDb id, original title, release date and plot; a show's detail its first
// air date; a season its episodes), written as XML documents by tinyxml2,
// and put in place as a copy is: under a hidden partial name, synced, then
// renamed without replacing.
#include "organize_nfo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <set>

#include <tinyxml2.h>
#include <xxhash.h>

#include "file_moves.h"
#include "json_line.h"
#include "terminal.h"

namespace {

// Text as XML 1.0 can hold it: control characters other than tab and line
// ends dropped (tinyxml2 escapes the rest).
std::string xml_text(const std::string &text) {
    std::string out;
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n' || c == '\r') out += c;
    return out;
}

// A document of one or more root elements, each with text children.
class nfo_writer {
public:
    nfo_writer() { doc_.InsertEndChild(doc_.NewDeclaration()); }
    void begin(const char *root) { at_ = doc_.InsertEndChild(doc_.NewElement(root))->ToElement(); }
    // A child with text; none for an empty text.
    void add(const char *tag, const std::string &text) {
        if (!text.empty()) at_->InsertNewChildElement(tag)->SetText(xml_text(text).c_str());
    }
    void add(const char *tag, int number) {
        if (number >= 0) at_->InsertNewChildElement(tag)->SetText(number);
    }
    void unique_id(const char *type, const std::string &id, bool is_default) {
        if (id.empty()) return;
        tinyxml2::XMLElement *e = at_->InsertNewChildElement("uniqueid");
        e->SetAttribute("type", type);
        if (is_default) e->SetAttribute("default", "true");
        e->SetText(xml_text(id).c_str());
    }
    std::string text() {
        tinyxml2::XMLPrinter printer;
        doc_.Print(&printer);
        return printer.CStr();
    }

private:
    tinyxml2::XMLDocument doc_;
    tinyxml2::XMLElement *at_ = nullptr;
};

// A date member ("YYYY-MM-DD") of a JSON object, or "".
std::string date_member(yyjson_val *object, const char *key) {
    const char *text = yyjson_get_str(yyjson_obj_get(object, key));
    if (!text || std::strlen(text) != 10) return "";
    for (int i = 0; i < 10; ++i) {
        const bool dash = i == 4 || i == 7;
        if (dash ? text[i] != '-' : (text[i] < '0' || text[i] > '9')) return "";
    }
    return text;
}

// The last reply the library received, parsed, for what its accessors do
// not give (full dates).
struct last_reply {
    last_reply() {
        const char *body = oxmeta_result_json();
        doc = yyjson_read(body, std::strlen(body), 0);
    }
    ~last_reply() { yyjson_doc_free(doc); }
    last_reply(const last_reply &) = delete;
    last_reply &operator=(const last_reply &) = delete;
    yyjson_val *root() const { return yyjson_doc_get_root(doc); }
    yyjson_doc *doc;
};

std::string failure(const char *what) { return std::string(what) + ": " + oxmeta_last_error(); }

// A string member of the reply, or "".
std::string text_member_of(const last_reply &reply, const char *key) {
    const char *text = yyjson_get_str(yyjson_obj_get(reply.root(), key));
    return text ? text : "";
}

// A film's or show's document: its detail asked for (lookup), the images'
// paths kept from the reply, then root's elements from the reply (fill).
std::string detail_document(int id, nfo_documents &docs, std::string &error, int (*lookup)(int), const char *what,
                            const char *root, const std::function<void(nfo_writer &, const last_reply &)> &fill) {
    if (lookup(id) != OXMETA_OK) {
        error = failure(what);
        return "";
    }
    const last_reply reply;
    docs.poster = text_member_of(reply, "poster_path");
    docs.backdrop = text_member_of(reply, "backdrop_path");
    nfo_writer nfo;
    nfo.begin(root);
    fill(nfo, reply);
    return nfo.text();
}

// <movie>, from the film's detail.
std::string film_document(int id, nfo_documents &docs, std::string &error) {
    return detail_document(id, docs, error, oxmeta_tmdb_movie_detail, "the film's detail", "movie",
                           [id](nfo_writer &nfo, const last_reply &reply) {
                               nfo.add("title", oxmeta_result_title(0));
                               nfo.add("originaltitle", oxmeta_result_original_title(0));
                               nfo.add("year", oxmeta_result_year(0) > 0 ? oxmeta_result_year(0) : -1);
                               nfo.add("premiered", date_member(reply.root(), "release_date"));
                               nfo.add("plot", oxmeta_result_overview(0));
                               nfo.unique_id("tmdb", std::to_string(id), true);
                               nfo.unique_id("imdb", oxmeta_result_imdb_id(0), false);
                           });
}

// <tvshow>, from the show's detail.
std::string show_document(int id, nfo_documents &docs, std::string &error) {
    return detail_document(id, docs, error, oxmeta_tmdb_tv_detail, "the show's detail", "tvshow",
                           [id](nfo_writer &nfo, const last_reply &reply) {
                               nfo.add("title", oxmeta_result_title(0));
                               nfo.add("premiered", date_member(reply.root(), "first_air_date"));
                               nfo.unique_id("tmdb", std::to_string(id), true);
                           });
}

// <episodedetails>, one for each episode the file holds, from their seasons.
std::string episode_document(int show, const std::vector<match_episode> &episodes, std::string &error) {
    nfo_writer nfo;
    for (const match_episode &e : episodes) {
        // The season the match read: the cache (or this run) has it.
        if (oxmeta_tmdb_tv_season(show, e.season) != OXMETA_OK) {
            error = failure("the episode's season");
            return "";
        }
        const last_reply reply;
        int found = -1;
        for (int i = 0; i < oxmeta_result_count() && found < 0; ++i)
            if (oxmeta_result_season_number(i) == e.season && oxmeta_result_episode_number(i) == e.number) found = i;
        if (found < 0) {
            error = std::string("episode ").append(std::to_string(e.number)).append(" is not in its season's reply");
            return "";
        }
        std::string aired;
        yyjson_val *list = yyjson_obj_get(reply.root(), "episodes");
        for (size_t i = 0, n = yyjson_arr_size(list); i < n && aired.empty(); ++i) {
            yyjson_val *item = yyjson_arr_get(list, i);
            if (yyjson_get_int(yyjson_obj_get(item, "episode_number")) == e.number) aired = date_member(item, "air_date");
        }
        nfo.begin("episodedetails");
        nfo.add("title", oxmeta_result_title(found));
        nfo.add("season", e.season);
        nfo.add("episode", e.number);
        nfo.add("aired", aired);
        nfo.add("plot", oxmeta_result_overview(found));
        nfo.unique_id("tmdb", oxmeta_result_id(found), true);
    }
    return nfo.text();
}

std::string stem_of(const std::string &path) {
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    return dot == std::string::npos || (slash != std::string::npos && dot < slash + 2) ? path : path.substr(0, dot);
}

long long mtime_of(const struct stat &st) {
    return static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
}

// {"KEY":k} with more members.
std::string line_of(const char *key, size_t k, const std::string &more = "") {
    std::string out = "{";
    json_key(out, key);
    out += std::to_string(k) + more + "}";
    return out;
}

// ,"key":"value"
std::string member(const char *key, const std::string &value) {
    std::string out = ",";
    out += '"';
    out.append(key).append("\":");
    append_json_string(out, value);
    return out;
}

// Whether path holds exactly text.
bool holds(const std::string &path, const std::string &text) {
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::string got(text.size() + 1, '\0');
    const size_t n = std::fread(got.data(), 1, got.size(), f);
    std::fclose(f);
    return n == text.size() && got.compare(0, n, text) == 0;
}

// The whole of a file, or false.
bool read_whole(const std::string &path, std::string &bytes) {
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    bytes.clear();
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.append(buffer, n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

// The XXH3 hash of bytes (64 bits), in hex: enough to know fetched bytes again.
std::string bytes_hash(const std::string &bytes) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(XXH3_64bits(bytes.data(), bytes.size())));
    return text;
}

// Whether the file at w's path is what its run put there: the planned text,
// or the bytes journalled as fetched.
bool holds_its_own(const journalled_write &w) {
    if (!w.file.fetched) return holds(w.file.path, w.file.text);
    std::string bytes;
    return w.fetched_size >= 0 && read_whole(w.file.path, bytes) && static_cast<long long>(bytes.size()) == w.fetched_size &&
           bytes_hash(bytes) == w.fetched_hash;
}

// Writes text under the hidden partial name beside path, synced: "" or why not.
std::string write_partial(const std::string &partial, const std::string &text) {
    const int fd = open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return std::string("create it: ") + std::strerror(errno);
    std::string why;
    for (size_t off = 0; why.empty() && off < text.size();) {
        const ssize_t n = write(fd, text.data() + off, text.size() - off);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) why = std::string("write it: ") + std::strerror(n < 0 ? errno : ENOSPC);
        else off += static_cast<size_t>(n);
    }
    if (why.empty() && fsync(fd) != 0) why = std::string("sync it: ") + std::strerror(errno);
    if (close(fd) != 0 && why.empty()) why = std::string("close it: ") + std::strerror(errno);
    return why;
}

// The journal's line of a file now in place.
bool record_written(journalled_write &w, size_t k, const journal_hooks &hooks) {
    struct stat st{};
    lstat(w.file.path.c_str(), &st);
    w.done = true;
    w.size = static_cast<long long>(st.st_size);
    w.mtime = mtime_of(st);
    hooks.report("written", w.file.path, "");
    return hooks.append_line(line_of("written", k, std::string(",\"size\":").append(std::to_string(w.size)).append(",\"mtime\":").append(std::to_string(w.mtime))));
}

}  // namespace

void nfo_lookups::look_up(const match_outcome &o) {
    nfo_documents &docs = by_input_[o.input];
    docs = {};
    if (!o.matched() || o.candidates.empty()) return;
    const int id = std::atoi(o.candidates.front().id.c_str());
    if (std::string(o.name.kind) != "episode") {
        docs.video = film_document(id, docs, docs.error);
        return;
    }
    if (o.episodes.empty()) {
        docs.error = "the match found no episode";
        return;
    }
    // Both asked, whatever the first gives, so that one pass wants both replies.
    std::string show_error;
    docs.show = show_document(id, docs, show_error);
    docs.video = episode_document(id, o.episodes, docs.error);
    if (docs.error.empty()) docs.error = show_error;
}

const nfo_documents *nfo_lookups::find(const std::string &input) const {
    const auto found = by_input_.find(input);
    return found == by_input_.end() ? nullptr : &found->second;
}

std::vector<plan_write> plan_files_beside(
    const organize_plan &plan, const std::vector<match_outcome> &outcomes, const nfo_lookups &lookups,
    const std::string &library, const char *what, size_t &failed,
    const std::function<void(const nfo_documents &, const std::string &video, const std::string &show_folder,
                             const write_adder &add)> &each) {
    std::map<std::string, std::string> destination_of;
    std::set<std::string> taken;  // where the steps put files
    for (const plan_step &s : plan.steps) {
        destination_of.emplace(s.source, s.destination);
        taken.insert(s.destination);
    }
    std::vector<plan_write> writes;
    const write_adder add = [&](const std::string &path, const std::string &beside, const char *kind,
                                const std::string &text, bool fetched) {
        // A file there, or a sidecar going there, is left to be the one.
        if (taken.count(path) || exists(path)) return;
        taken.insert(path);
        writes.push_back({path, beside, kind, text, fetched});
    };
    for (const match_outcome &o : outcomes) {
        const auto video = destination_of.find(o.input);
        const nfo_documents *docs = lookups.find(o.input);
        if (video == destination_of.end() || !docs) continue;
        if (!docs->error.empty()) {
            std::fprintf(stderr, "oxmeta: organize: %s: no %s: %s\n", escape_cell(o.input).c_str(), what,
                         escape_cell(docs->error).c_str());
            ++failed;
            continue;
        }
        const std::string &destination = video->second;
        // The show's folder: the first below the library, when the episode
        // sits deeper (Show/Season 01/file).
        std::string show_folder;
        if (!docs->show.empty() && destination.compare(0, library.size() + 1, library + "/") == 0) {
            const std::string below = destination.substr(library.size() + 1);
            const size_t first = below.find('/');
            if (first != std::string::npos && below.find('/', first + 1) != std::string::npos)
                show_folder = std::string(library).append("/").append(below.substr(0, first));
        }
        each(*docs, destination, show_folder, add);
    }
    return writes;
}

std::vector<plan_write> plan_nfo_files(const organize_plan &plan, const std::vector<match_outcome> &outcomes,
                                       const nfo_lookups &lookups, const std::string &library, size_t &failed) {
    return plan_files_beside(plan, outcomes, lookups, library, ".nfo", failed,
                             [](const nfo_documents &docs, const std::string &video, const std::string &show_folder,
                                const write_adder &add) {
                                 const bool episode = !docs.show.empty();
                                 add(stem_of(video) + ".nfo", video, episode ? "episodedetails" : "movie", docs.video, false);
                                 if (!show_folder.empty())
                                     add(show_folder + "/tvshow.nfo", show_folder, "tvshow", docs.show, false);
                             });
}

std::vector<std::string> write_plan_lines(const std::vector<plan_write> &writes) {
    std::vector<std::string> lines;
    for (size_t k = 0; k < writes.size(); ++k) {
        const plan_write &w = writes[k];
        lines.push_back(line_of("write", k,
                                member("path", w.path) + member("beside", w.beside) + member("kind", w.kind) +
                                    member("text", w.text) + (w.fetched ? ",\"fetched\":true" : "")));
    }
    return lines;
}

void read_write_line(yyjson_val *line, std::vector<journalled_write> &writes) {
    const auto str = [&](const char *key) {
        const char *s = yyjson_get_str(yyjson_obj_get(line, key));
        return std::string(s ? s : "");
    };
    if (yyjson_val *k = yyjson_obj_get(line, "write")) {
        if (yyjson_get_uint(k) == writes.size())
            writes.push_back({{str("path"), str("beside"), str("kind"), str("text"),
                               yyjson_get_bool(yyjson_obj_get(line, "fetched"))}});
        return;
    }
    const auto at = [&](const char *key) -> journalled_write * {
        yyjson_val *v = yyjson_obj_get(line, key);
        if (!v || !yyjson_is_uint(v) || yyjson_get_uint(v) >= writes.size()) return nullptr;
        return &writes[yyjson_get_uint(v)];
    };
    if (journalled_write *w = at("write_intent")) w->intent = true;
    if (journalled_write *w = at("written")) {
        w->done = true;
        w->size = yyjson_get_sint(yyjson_obj_get(line, "size"));
        w->mtime = yyjson_get_sint(yyjson_obj_get(line, "mtime"));
    }
    if (journalled_write *w = at("write_fetched")) {
        w->fetched_size = yyjson_get_sint(yyjson_obj_get(line, "size"));
        w->fetched_hash = str("hash");
    }
    if (journalled_write *w = at("write_failed")) w->failed = true;
    if (journalled_write *w = at("write_skipped")) w->skipped = true;
    if (journalled_write *w = at("write_removed")) w->removed = true;
    if (journalled_write *w = at("write_kept")) w->kept = true;
}

bool finish_writes(std::vector<journalled_write> &writes, const journal_hooks &hooks, size_t &written, size_t &fetched,
                   size_t &skipped, size_t &failed) {
    for (size_t k = 0; k < writes.size(); ++k) {
        journalled_write &w = writes[k];
        if (w.done || w.failed || w.skipped) continue;
        const std::string partial = partial_name(w.file.path);
        size_t &count = w.file.fetched ? fetched : written;
        if (w.intent) {
            // Begun by a run that was stopped: its partial file was ours,
            // and a file in place with the planned bytes is the one it wrote.
            unlink(partial.c_str());
            if (holds_its_own(w)) {
                ++count;
                if (!record_written(w, k, hooks)) return false;
                continue;
            }
        }
        if (!hooks.append_line(line_of("write_intent", k))) return false;
        std::string why;
        bool skip = false;
        std::string bytes = w.file.fetched ? "" : w.file.text;
        if (!exists(w.file.beside)) {
            skip = true;
            why = "its video is not in the library";
        } else if (exists(w.file.path)) {
            skip = true;
            why = "a file is there; it is kept";
        } else if (w.file.fetched && !hooks.fetch) {
            skip = true;
            why = "not fetched: the run was stopped before it was";
        } else if (w.file.fetched && !hooks.fetch(w.file, bytes, why, skip)) {
            // why and skip say it
        } else if (w.file.fetched &&
                   !hooks.append_line(line_of("write_fetched", k,
                                      std::string(",\"size\":").append(std::to_string(bytes.size())).append(member("hash", bytes_hash(bytes)))))) {
            return false;
        } else if (why = write_partial(partial, bytes); why.empty()) {
            const move_result r = move_file(partial, w.file.path);
            if (!r.ok) {
                why = r.error;
                skip = exists(w.file.path);
                if (skip) why = "a file is there; it is kept";
            }
        }
        if (why.empty()) {
            ++count;
            if (!record_written(w, k, hooks)) return false;
            continue;
        }
        unlink(partial.c_str());
        ++(skip ? skipped : failed);
        hooks.report(skip ? "skipped" : "failed", w.file.path, why);
        if (!hooks.append_line(line_of(skip ? "write_skipped" : "write_failed", k, member("error", why)))) return false;
    }
    return true;
}

bool undo_writes(std::vector<journalled_write> &writes, const journal_hooks &hooks, size_t &removed, size_t &fetched_removed,
                 size_t &kept) {
    for (size_t k = writes.size(); k-- > 0;) {
        journalled_write &w = writes[k];
        if (!w.done || w.removed || w.kept) continue;
        struct stat st{};
        std::string problem;
        if (lstat(w.file.path.c_str(), &st) != 0) {
            // Gone already: nothing of this run is left there.
        } else if (static_cast<long long>(st.st_size) != w.size || mtime_of(st) != w.mtime) {
            problem = "it changed since it was written";
        } else if (unlink(w.file.path.c_str()) != 0) {
            problem = std::string("remove it: ") + std::strerror(errno);
        } else {
            ++(w.file.fetched ? fetched_removed : removed);
            hooks.report("removed", w.file.path, "");
        }
        if (problem.empty()) {
            if (!hooks.append_line(line_of("write_removed", k))) return false;
            continue;
        }
        ++kept;
        hooks.report("kept", w.file.path, problem);
        if (!hooks.append_line(line_of("write_kept", k, member("error", problem)))) return false;
    }
    return true;
}
