// The plan: destinations from the match, sidecars found beside each video,
// then every check that can be made before the first step.
#include "organize_plan.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

#include "library_names.h"

namespace {

// Extensions of the files that travel with a video of the same stem.
const std::set<std::string> kSidecarExtensions = {"srt", "ass", "ssa", "sub", "idx", "sup", "nfo",
                                                  "jpg", "jpeg", "png", "tbn"};

std::string lower(std::string text) {
    for (char &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string folder_of(const std::string &path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_of(const std::string &path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string extension_of(const std::string &name) {
    const size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? "" : name.substr(dot + 1);
}

std::string stem_of(const std::string &name) {
    const size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::vector<std::string> names_in(const std::string &folder) {
    std::vector<std::string> names;
    DIR *dir = opendir(folder.c_str());
    if (!dir) return names;
    while (const dirent *e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

// A file, or a link that still points to the same place once moved (its
// target absolute): a link is moved as a link, never followed.
bool movable(const std::string &path) {
    struct stat st{};
    if (lstat(path.c_str(), &st) != 0) return false;
    if (S_ISREG(st.st_mode)) return true;
    if (!S_ISLNK(st.st_mode)) return false;
    char first = 0;
    return readlink(path.c_str(), &first, 1) == 1 && first == '/';
}

struct video {
    const match_outcome *outcome;
    std::string stem;
    std::vector<std::string> sidecars;  // names in the video's folder
};

// Each sidecar goes with the video of the longest stem it starts with
// ("Film.cd1.en.srt" with "Film.cd1.mkv", not "Film.mkv").
void find_sidecars(std::vector<video> &videos) {
    std::map<std::string, std::vector<video *>> by_folder;
    for (video &v : videos) by_folder[folder_of(v.outcome->input)].push_back(&v);
    for (auto &[folder, here] : by_folder) {
        for (const std::string &name : names_in(folder)) {
            if (!kSidecarExtensions.count(lower(extension_of(name)))) continue;
            video *owner = nullptr;
            for (video *v : here) {
                if (name.size() > v->stem.size() && name.compare(0, v->stem.size(), v->stem) == 0 &&
                    name[v->stem.size()] == '.' && (!owner || v->stem.size() > owner->stem.size()))
                    owner = v;
            }
            if (owner && movable(folder + "/" + name)) owner->sidecars.push_back(name);
        }
    }
}

library_entry entry_of(const match_outcome &o) {
    const oxmeta_name &n = o.name;
    const match_candidate &pick = o.candidates.front();
    library_entry e;
    e.episode = std::string(n.kind) == "episode";
    e.title = pick.title;
    e.year = pick.year > 0 ? pick.year : 0;
    e.tmdb = pick.id;
    e.imdb = n.imdb_id;
    e.season = n.season;
    for (int i = 0; i < n.episode_count; ++i) e.episodes.push_back(n.episodes[i]);
    e.episode_title = n.episode_title;
    // The episodes as TMDb numbers them, where the match found them (a file
    // numbered from the show's start or by date included).
    if (!o.episodes.empty()) {
        e.season = o.episodes.front().season;
        e.episodes.clear();
        for (const match_episode &found : o.episodes) e.episodes.push_back(found.number);
        if (!o.episodes.front().title.empty()) e.episode_title = o.episodes.front().title;
    }
    e.edition = n.edition;
    e.screen_size = n.screen_size;
    e.ext = lower(extension_of(base_of(o.input)));
    return e;
}

// A free hidden name beside path for a file on its way elsewhere.
std::string temporary_name(const std::string &path, const std::set<std::string> &planned) {
    const std::string folder = folder_of(path);
    const std::string name = base_of(path).substr(0, 200);
    for (int n = 0;; ++n) {
        std::string candidate = folder + "/.oxmeta-rename";
        if (n) candidate.append("-").append(std::to_string(n));
        candidate.append(".").append(name);
        struct stat st{};
        if (!planned.count(candidate) && lstat(candidate.c_str(), &st) != 0) return candidate;
    }
}

// Orders the steps so that a step whose destination is another's source
// comes after it (a chain b→c before a→b). A cycle (a→b, b→a) is broken by
// a temporary name: a→tmp, then the others, then tmp→b.
void order_chains(organize_plan &plan) {
    std::map<std::string, size_t> by_source;
    std::set<std::string> planned;
    for (size_t i = 0; i < plan.steps.size(); ++i) {
        by_source[plan.steps[i].source] = i;
        planned.insert(plan.steps[i].source);
        planned.insert(plan.steps[i].destination);
    }
    std::vector<int> state(plan.steps.size(), 0);  // 0 new, 1 on the path, 2 placed
    std::vector<plan_step> steps;
    for (size_t start = 0; start < plan.steps.size(); ++start) {
        if (state[start]) continue;
        // Follows the chain start → the step freeing its destination → ...
        std::vector<size_t> path;
        size_t at = start;
        for (;;) {
            state[at] = 1;
            path.push_back(at);
            const auto next = by_source.find(plan.steps[at].destination);
            if (next == by_source.end() || state[next->second] == 2) break;
            if (state[next->second] == 1) {
                // The cycle c0 → c1 → ... → ck → c0: c0's file goes aside,
                // ck ... c1 follow in turn, and c0's file ends at its place.
                const auto c0 = std::find(path.begin(), path.end(), next->second);
                const plan_step &first = plan.steps[*c0];
                const std::string aside = temporary_name(first.source, planned);
                planned.insert(aside);
                steps.push_back({first.source, aside, first.group});
                for (auto it = path.end(); it-- != c0 + 1;) {
                    steps.push_back(plan.steps[*it]);
                    state[*it] = 2;
                }
                steps.push_back({aside, first.destination, first.group});
                state[*c0] = 2;
                path.erase(c0, path.end());
                break;
            }
            at = next->second;
        }
        for (auto it = path.rbegin(); it != path.rend(); ++it) {
            state[*it] = 2;
            steps.push_back(plan.steps[*it]);
        }
    }
    plan.steps = std::move(steps);
}

}  // namespace

organize_plan make_plan(const std::vector<match_outcome> &outcomes, const plan_options &options) {
    organize_plan plan;
    std::vector<video> videos;
    for (const match_outcome &o : outcomes) {
        const oxmeta_name &n = o.name;
        if (!o.matched() || o.candidates.empty()) {
            plan.left.push_back({o.input, std::string(match_verdict(o)) + (o.error.empty() ? "" : ": " + o.error), !o.stored()});
        } else if (!movable(o.input)) {
            plan.left.push_back({o.input, "not a single file, or a relative link (a disc folder is left as it is)"});
        } else if (std::string(n.kind) == "episode" && (n.season < 0 || n.episode_count == 0)) {
            plan.left.push_back({o.input, "matched, but the name gives no season and episode to file it under"});
        } else {
            videos.push_back({&o, stem_of(base_of(o.input)), {}});
        }
    }
    find_sidecars(videos);

    // Destinations, and the sources each one would take.
    std::map<std::string, std::vector<size_t>> into;
    std::vector<plan_step> wanted;
    // Room for " (99)" after the name when a taken name gets an index.
    const size_t index_room = options.index_conflicts ? 5 : 0;
    std::set<std::string> taken;  // destinations given so far
    for (size_t g = 0; g < videos.size(); ++g) {
        const video &v = videos[g];
        size_t suffix_room = index_room;
        for (const std::string &side : v.sidecars) suffix_room = std::max(suffix_room, side.size() - v.stem.size() + index_room);
        const std::vector<std::string> parts = library_path(entry_of(*v.outcome), options.layout, options.template_text, suffix_room);
        std::string folder = options.library;
        for (size_t i = 0; i + 1 < parts.size(); ++i) folder += "/" + parts[i];
        const std::string file = parts.back();
        const std::string ext = file.substr(stem_of(file).size());
        // The video's name and its sidecars', with index n (1: none).
        const auto named = [&](int n) {
            std::string stem = stem_of(file);
            if (n > 1) stem.append(" (").append(std::to_string(n)).append(")");
            std::vector<plan_step> steps = {{v.outcome->input, folder + "/" + stem + ext, g}};
            for (const std::string &side : v.sidecars)
                steps.push_back({folder_of(v.outcome->input) + "/" + side, folder + "/" + stem + side.substr(v.stem.size()), g});
            return steps;
        };
        const auto free_names = [&](const std::vector<plan_step> &steps) {
            struct stat st{};
            return std::none_of(steps.begin(), steps.end(), [&](const plan_step &s) {
                return s.destination != s.source && (taken.count(s.destination) || lstat(s.destination.c_str(), &st) == 0);
            });
        };
        std::vector<plan_step> steps = named(1);
        for (int n = 2; options.index_conflicts && n <= 99 && !free_names(steps); ++n) {
            if (free_names(named(n))) steps = named(n);
        }
        for (plan_step &s : steps) {
            taken.insert(s.destination);
            wanted.push_back(std::move(s));
        }
    }
    // The paths the plan frees: a file already in place frees nothing.
    std::set<std::string> sources;
    for (const plan_step &s : wanted)
        if (s.source != s.destination) sources.insert(s.source);
    for (size_t i = 0; i < wanted.size(); ++i) into[wanted[i].destination].push_back(i);

    // A video whose step cannot be made takes its sidecars with it.
    std::set<size_t> failed_groups;
    std::map<size_t, std::pair<std::string, bool>> why;  // the reason, and whether it is a failure
    std::set<size_t> case_only_steps;  // a file renamed to another case of its own name
    const auto refuse = [&](size_t i, const std::string &reason, bool group) {
        why.emplace(i, std::make_pair(reason, reason.rfind("failed", 0) == 0));
        if (group) failed_groups.insert(wanted[i].group);
    };
    for (size_t i = 0; i < wanted.size(); ++i) {
        const plan_step &s = wanted[i];
        const bool is_video = s.source == videos[s.group].outcome->input;
        struct stat src{}, dst{};
        if (into[s.destination].size() > 1) {
            refuse(i, "failed: another file would take the same name: " + s.destination, is_video);
        } else if (s.destination == s.source) {
            why.emplace(i, std::make_pair(std::string(), false));  // already in place
        } else if (lstat(s.destination.c_str(), &dst) == 0 && (options.sources_stay || !sources.count(s.destination))) {
            // The same file under another case of its name is a case-only rename.
            const bool same = lstat(s.source.c_str(), &src) == 0 && src.st_dev == dst.st_dev && src.st_ino == dst.st_ino;
            if (same) {
                if (options.sources_stay) why.emplace(i, std::make_pair(std::string(), false));  // already there
                else case_only_steps.insert(i);
            } else {
                refuse(i, std::string(options.skip_conflicts ? "skipped" : "failed") + ": the destination exists: " + s.destination, is_video);
            }
        }
    }
    for (size_t i = 0; i < wanted.size(); ++i) {
        const auto reason = why.find(i);
        if (reason != why.end()) {
            if (!reason->second.first.empty())
                plan.left.push_back({wanted[i].source, reason->second.first, reason->second.second});
        } else if (failed_groups.count(wanted[i].group)) {
            plan.left.push_back({wanted[i].source, "left with its video"});
        } else {
            plan.steps.push_back(wanted[i]);
        }
    }
    order_chains(plan);
    // A filesystem that ignores case sees a case-only rename's destination
    // taken by the file itself: it goes through a temporary name.
    std::set<std::string> planned;
    for (const plan_step &s : plan.steps) planned.insert(s.destination);
    std::vector<plan_step> steps;
    for (const plan_step &s : plan.steps) {
        const bool through_temporary = std::any_of(case_only_steps.begin(), case_only_steps.end(), [&](size_t i) {
            return wanted[i].source == s.source && wanted[i].destination == s.destination;
        });
        if (!through_temporary) {
            steps.push_back(s);
            continue;
        }
        const std::string aside = temporary_name(s.source, planned);
        planned.insert(aside);
        steps.push_back({s.source, aside, s.group});
        steps.push_back({aside, s.destination, s.group});
    }
    plan.steps = std::move(steps);
    return plan;
}
