// `oxmeta scan DIR...`: the media files under folders found, parsed and
// matched to TMDb, with the replies kept in the response cache; and
// `oxmeta cache stats|clear|check|path`.
//
// The library's result store is one slot for the whole process, so the
// library runs on this thread only. Workers only fetch: each pass matches
// every file still pending against the replies at hand (a pass costs
// microseconds a file), notes each request a match wanted and could not
// have, and the workers then fetch those, each URL once, at the rate the
// services allow. A file's match is final in the first pass that wanted
// nothing new; a match sends at most three requests, so a few passes do.
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include <yyjson.h>

#include "cache.h"
#include "cli.h"
#include "commands.h"
#include "credentials.h"
#include "malloc_copy.h"
#include "match_report.h"
#include "terminal.h"
#include "scan.h"
#include "walk.h"

namespace {

using clock_type = std::chrono::steady_clock;

constexpr int kMaxPasses = 6;

int64_t unix_now() { return static_cast<int64_t>(std::time(nullptr)); }

// The service a request goes to, by its host.
const char *service_of(const std::string &url) {
    if (url.find("themoviedb.org") != std::string::npos) return "tmdb";
    if (url.find("omdbapi.com") != std::string::npos) return "omdb";
    if (url.find("itunes.apple.com") != std::string::npos) return "itunes";
    return "other";
}

double default_rate(const std::string &service) {
    if (service == "omdb") return 5;
    if (service == "itunes") return 0.3;  // about 20 a minute
    return 20;
}

// A token bucket of one token: requests to one service at least 1/rate
// seconds apart, however many workers ask; a pause (a Retry-After) holds
// every worker of the service until it ends.
class rate_limiter {
public:
    explicit rate_limiter(double per_second)
        : interval_(std::chrono::duration_cast<clock_type::duration>(std::chrono::duration<double>(1.0 / per_second))) {}
    void wait() {
        for (;;) {
            clock_type::time_point slot;
            {
                std::lock_guard<std::mutex> hold(mutex_);
                slot = std::max({clock_type::now(), next_, paused_until_});
                next_ = slot + interval_;
            }
            std::this_thread::sleep_until(slot);
            // A pause that began while this worker slept holds it too.
            std::lock_guard<std::mutex> hold(mutex_);
            if (paused_until_ <= slot) return;
        }
    }
    void pause(clock_type::duration length) {
        std::lock_guard<std::mutex> hold(mutex_);
        paused_until_ = std::max(paused_until_, clock_type::now() + length);
    }

private:
    std::mutex mutex_;
    clock_type::duration interval_;
    clock_type::time_point next_{};
    clock_type::time_point paused_until_{};
};

struct reply {
    bool failed;        // a transport failure: error says why
    int status;
    std::string body;
    std::string error;
};

// Whether the library can read a reply: the services answer JSON, and
// anything else (a captive portal's page, a proxy's error) is never kept.
bool readable(const std::string &body) {
    yyjson_doc *doc = yyjson_read(body.data(), body.size(), 0);
    yyjson_doc_free(doc);
    return doc != nullptr;
}

// The replies of this scan, over the response cache. A reply the cache
// kept is read from there when a match wants it, and stays in memory only
// while a file still pending has read it; a reply the cache could not keep
// stays for the scan. Memory holds the replies in use, not all of them.
class reply_pool {
public:
    using shared_reply = std::shared_ptr<const reply>;

    reply_pool(response_cache *cache, const cache_ttls &ttls, bool refresh) : cache_(cache), ttls_(ttls), refresh_(refresh) {}

    // The file whose match asks from now on.
    void begin_file(size_t file) {
        std::lock_guard<std::mutex> hold(mutex_);
        file_ = file;
    }

    // The reply for url, if this scan has it or the cache holds it fresh;
    // otherwise url is noted as wanted.
    shared_reply find(const std::string &url) {
        const std::string key = strip_credentials(url);
        std::lock_guard<std::mutex> hold(mutex_);
        entry &e = entries_[key];
        if (e.readers.insert(file_).second) touched_[file_].push_back(key);
        if (e.reply) return e.reply;
        if (shared_reply r = recall(key)) {
            e.reply = r;
            e.in_cache = true;
            return r;
        }
        // With --refresh the cache serves only what this scan fetched.
        if (cache_ && (!refresh_ || fetched_.count(key))) {
            auto kept = cache_->find(key, unix_now(), ttls_);
            if (!cache_->is_open()) tell_broken();
            if (kept && !readable(kept->body)) {
                // Kept before replies were checked: asked again.
                cache_->forget(key);
            } else if (kept) {
                if (!fetched_.count(key)) ++cache_hits_;
                e.reply = std::make_shared<const reply>(reply{false, kept->status, std::move(kept->body), {}});
                e.in_cache = true;
                return e.reply;
            }
        }
        missed_ = true;
        wanted_.emplace(key, url);
        return nullptr;
    }

    void put(const std::string &url, reply r) {
        const std::string key = strip_credentials(url);
        // A reply that echoes the request would keep the key.
        r.body = scrub_credentials(std::move(r.body), url);
        const bool cacheable = !r.failed && readable(r.body) && cacheable_status(r.status);
        const bool stored = cache_ && cacheable && cache_->store(key, service_of(url), r.status, r.body, unix_now());
        std::lock_guard<std::mutex> hold(mutex_);
        if (cache_ && cacheable && !stored && !cache_->read_only()) {
            ++not_kept_;
            tell_broken();
        }
        entry &e = entries_[key];
        if (stored) {
            // The cache holds it: the matches that want it read it there.
            fetched_.insert(key);
            e.reply = nullptr;
        } else {
            e.reply = std::make_shared<const reply>(std::move(r));
        }
        e.in_cache = stored;
    }

    // file is settled: the replies it read are let go when no pending file
    // needs them and the cache holds them.
    void settle(size_t file) {
        std::lock_guard<std::mutex> hold(mutex_);
        const auto found = touched_.find(file);
        if (found == touched_.end()) return;
        for (const std::string &key : found->second) {
            const auto e = entries_.find(key);
            if (e == entries_.end()) continue;
            e->second.readers.erase(file);
            if (!e->second.readers.empty() || (!e->second.in_cache && e->second.reply)) continue;
            if (e->second.reply) remember(key, std::move(e->second.reply));
            entries_.erase(e);
        }
        touched_.erase(found);
    }

    // Replies the cache should have kept and could not.
    long not_kept() const { return not_kept_; }

    // The URLs (with their credentials) wanted since the last call.
    std::vector<std::string> take_wanted() {
        std::lock_guard<std::mutex> hold(mutex_);
        std::vector<std::string> urls;
        for (auto &[key, url] : wanted_) urls.push_back(url);
        wanted_.clear();
        return urls;
    }

    // Whether a request was wanted since the last call.
    bool take_missed() {
        std::lock_guard<std::mutex> hold(mutex_);
        return std::exchange(missed_, false);
    }

    long cache_hits() const { return cache_hits_; }

private:
    struct entry {
        shared_reply reply;         // null: not at hand
        bool in_cache = false;      // the cache holds it: memory may let it go
        std::set<size_t> readers;   // pending files that read or wanted it
    };

    // The replies let go last, up to kRecentBytes: the files after one
    // (the episodes of a show) mostly want what it wanted.
    static constexpr size_t kRecentBytes = size_t{8} << 20;
    void remember(const std::string &key, shared_reply r) {
        if (r->body.size() > kRecentBytes / 4 || recent_index_.count(key)) return;
        recent_bytes_ += r->body.size();
        recent_.emplace_front(key, std::move(r));
        recent_index_[key] = recent_.begin();
        while (recent_bytes_ > kRecentBytes) {
            recent_bytes_ -= recent_.back().second->body.size();
            recent_index_.erase(recent_.back().first);
            recent_.pop_back();
        }
    }
    shared_reply recall(const std::string &key) {
        const auto found = recent_index_.find(key);
        if (found == recent_index_.end()) return nullptr;
        recent_.splice(recent_.begin(), recent_, found->second);
        return found->second->second;
    }

    // Once, when the cache stops working: why.
    void tell_broken() {
        if (std::exchange(told_broken_, true)) return;
        std::fprintf(stderr, "oxmeta: warning: the cache stopped working: %s; replies are no longer kept\n",
                     escape_cell(cache_->error()).c_str());
    }

    response_cache *cache_;
    cache_ttls ttls_;
    bool refresh_;
    std::mutex mutex_;
    size_t file_ = 0;
    std::unordered_map<std::string, entry> entries_;                   // key: URL without credentials
    std::unordered_map<size_t, std::vector<std::string>> touched_;     // by file: the keys it read or wanted
    std::unordered_set<std::string> fetched_;                          // fetched by this scan and kept
    std::list<std::pair<std::string, shared_reply>> recent_;          // let go, the latest first
    std::unordered_map<std::string, std::list<std::pair<std::string, shared_reply>>::iterator> recent_index_;
    size_t recent_bytes_ = 0;
    std::map<std::string, std::string> wanted_;                        // key: URL without credentials
    bool missed_ = false;
    long cache_hits_ = 0;
    long not_kept_ = 0;
    bool told_broken_ = false;
};

// The transport the library is given during a scan: answers from the pool.
int serve(void *ctx, const char *url, char **body, int *http_status, char **err) {
    auto *pool = static_cast<reply_pool *>(ctx);
    const reply_pool::shared_reply r = pool->find(url);
    if (!r || r->failed) {
        *err = malloc_copy(r ? r->error : "not fetched yet");
        return -1;
    }
    *http_status = r->status;
    *body = malloc_copy(r->body);
    return 0;
}

// ------------------------------------------------------------------ progress

// One status line on stderr, redrawn at most ten times a second, cut to
// the terminal's width (measured again when the window changes, so that it
// never wraps) and cleared on Ctrl-C; nothing when stderr is not a
// terminal or with --quiet.
volatile std::sig_atomic_t g_window_changed = 1;
volatile std::sig_atomic_t g_line_shown = 0;

extern "C" void on_window_change(int) { g_window_changed = 1; }

extern "C" void on_interrupt(int signal_number) {
    if (g_line_shown) {
        const char clear[] = "\r\x1b[K";
        const ssize_t ignored = write(STDERR_FILENO, clear, sizeof clear - 1);
        (void)ignored;
    }
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

class progress_line {
public:
    explicit progress_line(bool on) : on_(on) {
        if (!on_) return;
        std::signal(SIGWINCH, on_window_change);
        std::signal(SIGINT, on_interrupt);
        std::signal(SIGTERM, on_interrupt);
    }
    ~progress_line() {
        if (!on_) return;
        std::signal(SIGWINCH, SIG_DFL);
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
    }
    progress_line(const progress_line &) = delete;
    progress_line &operator=(const progress_line &) = delete;

    void draw(const std::string &text, bool force = false) {
        if (!on_) return;
        const auto now = clock_type::now();
        if (!force && now - last_ < std::chrono::milliseconds(100)) return;
        last_ = now;
        if (g_window_changed) {
            g_window_changed = 0;
            winsize size{};
            width_ = ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
        }
        // The text is ASCII: a byte a column. The last column stays free,
        // as some terminals wrap on it.
        const std::string shown = text.substr(0, width_ > 1 ? width_ - 1 : 0);
        std::fprintf(stderr, "\r\x1b[K%s", shown.c_str());
        std::fflush(stderr);
        g_line_shown = 1;
    }
    void clear() {
        if (!g_line_shown) return;
        std::fprintf(stderr, "\r\x1b[K");
        std::fflush(stderr);
        g_line_shown = 0;
    }

private:
    bool on_;
    size_t width_ = 80;
    clock_type::time_point last_{};
};

// ------------------------------------------------------------------ the scan

scan_options g_scan;

std::string cache_file(const settings &s, const scan_options &opts) {
    if (!opts.cache_path.empty()) return opts.cache_path;
    if (!s.cache_path.empty()) return s.cache_path;
    return default_cache_path();
}

bool read_ttls(const settings &s, const scan_options &opts, cache_ttls &ttls) {
    std::string error;
    // The config file's list first; the command line's overrides it.
    for (const std::string &list : {s.cache_ttl, opts.cache_ttl}) {
        if (!list.empty() && !parse_cache_ttls(list, ttls, &error)) {
            std::fprintf(stderr, "oxmeta: %s\n", error.c_str());
            return false;
        }
    }
    return true;
}

struct fetch_counters {
    std::atomic<long> sent{0};
    std::atomic<int> in_flight{0};
};

// A service's name as people write it.
const char *service_title(const std::string &service) {
    if (service == "tmdb") return "TMDb";
    if (service == "omdb") return "OMDb";
    if (service == "itunes") return "iTunes";
    return service.c_str();
}

// Failures in a row with no success (429, 503, other 5xx, no reply) after
// which asking a service more is pointless, in number or in time.
constexpr int kMaxFailuresInARow = 10;
constexpr auto kMaxFailingTime = std::chrono::seconds(60);
constexpr auto kDefaultPause = std::chrono::seconds(1);

// What the workers share of one service: its rate, its run of failures,
// and, once going on is pointless, why the scan stops.
struct service_state {
    explicit service_state(double rate) : limiter(rate) {}
    rate_limiter limiter;
    std::mutex mutex;
    int failures_in_a_row = 0;
    clock_type::time_point first_failure{};
};

class scanner {
public:
    scanner(const run_context &run, reply_pool &pool, progress_line &progress)
        : run_(run), pool_(pool), progress_(progress) {}

    int jobs = 4;
    double rate = 0;
    int retries = 2;         // after a 429 or 503, each through the rate limit
    bool replaying = false;  // recordings answer at once: no rate to keep
    fetch_counters counters;
    size_t files_total = 0;
    size_t files_done = 0;
    int pass = 0;
    size_t matched = 0;
    size_t ambiguous = 0;
    size_t failed = 0;  // no answer to read: the service failed, not the match
    clock_type::time_point start = clock_type::now();

    // Fetches urls with the workers; false when a worker's transport
    // could not be made.
    bool fetch(const std::vector<std::string> &urls) {
        const size_t workers = std::min<size_t>(static_cast<size_t>(jobs), urls.size());
        while (chains_.size() < workers) {
            std::unique_ptr<transport_chain> chain = run_.another_transport();
            if (!chain->io) {
                std::fprintf(stderr, "oxmeta: %s\n", chain->error.c_str());
                return false;
            }
            // The workers retry themselves, so that every retry keeps the rate.
            if (chain->live) chain->live->set_retries(0);
            chains_.push_back(std::move(chain));
        }
        std::atomic<size_t> next{0};
        std::atomic<size_t> finished{0};
        std::vector<std::thread> threads;
        for (size_t w = 0; w < workers; ++w) {
            const transport_chain *chain = chains_[w].get();
            threads.emplace_back([&, chain] {
                for (size_t i; (i = next++) < urls.size(); ++finished) fetch_one(*chain, urls[i]);
            });
        }
        while (finished < urls.size()) {
            progress_.draw(status_text());
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        for (auto &t : threads) t.join();
        return true;
    }

    // Why the scan stopped early ("" while it goes on).
    std::string stop_reason() {
        std::lock_guard<std::mutex> hold(stop_mutex_);
        return stop_reason_;
    }

    // "scan: pass 2, 120/400 files, 97 matched, 4 in flight, 19.8 requests/s,
    // about 14 s left": files counted as each is settled, the time left from
    // the files settled in the last 20 s.
    std::string status_text() {
        const auto now = clock_type::now();
        const double seconds = std::chrono::duration<double>(now - start).count();
        const double per_second = seconds > 0 ? static_cast<double>(counters.sent) / seconds : 0;
        char text[200];
        std::snprintf(text, sizeof text, "scan: pass %d, %zu/%zu files, %zu matched, %d in flight, %.1f requests/s",
                      pass + 1, files_done, files_total, matched, counters.in_flight.load(), per_second);
        std::string line = text;
        if (samples_.empty() || samples_.back().second != files_done) samples_.emplace_back(now, files_done);
        while (samples_.size() > 1 && now - samples_.front().first > std::chrono::seconds(20)) samples_.pop_front();
        const auto &[then, done_then] = samples_.front();
        const double span = std::chrono::duration<double>(now - then).count();
        if (files_done > done_then && files_done < files_total && span > 0.5) {
            const double settling = static_cast<double>(files_done - done_then) / span;
            const double left = static_cast<double>(files_total - files_done) / settling;
            line += ", about " + std::to_string(static_cast<long>(std::ceil(left))) + " s left";
        }
        return line;
    }

private:
    service_state &state_of(const std::string &service) {
        std::lock_guard<std::mutex> hold(services_mutex_);
        auto found = services_.find(service);
        if (found == services_.end())
            found = services_.emplace(service, std::make_unique<service_state>(rate > 0 ? rate : default_rate(service))).first;
        return *found->second;
    }

    bool stopped() {
        std::lock_guard<std::mutex> hold(stop_mutex_);
        return !stop_reason_.empty();
    }

    void stop(const std::string &reason) {
        std::lock_guard<std::mutex> hold(stop_mutex_);
        if (stop_reason_.empty()) stop_reason_ = reason;
    }

    // Counts a failed attempt; true when the service has failed long enough
    // to stop the scan.
    bool failed_again(service_state &state, const std::string &service, const std::string &what) {
        std::lock_guard<std::mutex> hold(state.mutex);
        const auto now = clock_type::now();
        if (state.failures_in_a_row++ == 0) state.first_failure = now;
        if (state.failures_in_a_row < kMaxFailuresInARow && now - state.first_failure < kMaxFailingTime) return false;
        const long seconds = std::lround(std::chrono::duration<double>(now - state.first_failure).count());
        stop(std::string(service_title(service)) + " answered " + what + " to " +
             std::to_string(state.failures_in_a_row) + " requests in a row over " + std::to_string(seconds) +
             " s, with no success");
        return true;
    }

    void succeeded(service_state &state) {
        std::lock_guard<std::mutex> hold(state.mutex);
        state.failures_in_a_row = 0;
    }

    // One request through the transport; the reply, and the Retry-After
    // it asked for in seconds (0 none).
    reply get(const transport_chain &chain, const std::string &url, long &retry_after) {
        const oxmeta_io *io = chain.io;
        ++counters.in_flight;
        char *body = nullptr;
        char *err = nullptr;
        int status = 0;
        const int rc = io->get(io->ctx, url.c_str(), &body, &status, &err);
        --counters.in_flight;
        ++counters.sent;
        reply r{rc != 0, status, body ? body : "", err ? err : "transport failure"};
        for (char *text : {body, err}) {
            if (!text) continue;
            if (io->free)
                io->free(io->ctx, text);
            else
                std::free(text);
        }
        retry_after = chain.live ? chain.live->retry_after() : 0;
        return r;
    }

    void fetch_one(const transport_chain &chain, const std::string &url) {
        const std::string service = service_of(url);
        service_state &state = state_of(service);
        for (int attempt = 0;; ++attempt) {
            if (stopped()) return;  // left for the next run
            if (!replaying) state.limiter.wait();
            if (stopped()) return;
            long retry_after = 0;
            reply r = get(chain, url, retry_after);
            if (!r.failed && r.status == 401) {
                // Every other request would be refused the same way.
                stop(std::string(service_title(service)) + " rejected the key from " + run_.s.key_source +
                     " (HTTP 401)");
                return;
            }
            const bool busy = !r.failed && (r.status == 429 || r.status == 503);
            if (!r.failed && !busy && r.status < 500) {
                succeeded(state);
                pool_.put(url, std::move(r));
                return;
            }
            const std::string what = r.failed ? "with no reply" : "HTTP " + std::to_string(r.status);
            if (failed_again(state, service, what)) return;
            if (busy) {
                // The service asked for a pause: every worker of it waits.
                const auto pause = retry_after > 0 ? std::chrono::seconds(std::min(retry_after, kMaxRetryWaitSeconds))
                                                   : std::chrono::seconds(kDefaultPause);
                if (!replaying) state.limiter.pause(pause);
                if (attempt < retries) continue;
            }
            pool_.put(url, std::move(r));
            return;
        }
    }

    const run_context &run_;
    reply_pool &pool_;
    progress_line &progress_;
    std::vector<std::unique_ptr<transport_chain>> chains_;
    std::mutex services_mutex_;
    std::map<std::string, std::unique_ptr<service_state>> services_;
    std::mutex stop_mutex_;
    std::string stop_reason_;
    std::deque<std::pair<clock_type::time_point, size_t>> samples_;  // files settled, by time
};

}  // namespace

int scan_media(const run_context &run, const scan_options &opts, const char *what,
               const std::function<bool(const match_outcome &)> &settled_one,
               const std::function<void(const match_outcome &)> &look_up) {
    const settings &s = run.s;
    for (const std::string &dir : opts.dirs) {
        if (access(dir.c_str(), F_OK) != 0) {
            const std::string why = errno == ENOENT ? "no such file or folder" : std::strerror(errno);
            std::fprintf(stderr, "oxmeta: %s: %s: %s\nRun 'oxmeta %s --help' for usage.\n", what, why.c_str(),
                         escape_cell(dir).c_str(), what);
            return 2;
        }
    }
    cache_ttls ttls;
    if (!read_ttls(s, opts, ttls)) return 2;
    walk_options walk;
    walk.max_depth = opts.max_depth;
    walk.hidden = opts.hidden;
    walk.extensions = opts.extensions.empty() ? default_video_extensions() : extensions_from(comma_list(opts.extensions));
    // Samples, trailers and extras stay out unless asked for. Names are
    // parsed again when matched: a record per file stays small.
    std::vector<std::string> files;
    bool walk_problems = false;
    {
        walk_result found = find_media_files(opts.dirs, walk);
        for (const std::string &problem : found.problems)
            std::fprintf(stderr, "oxmeta: warning: %s\n", escape_cell(problem).c_str());
        walk_problems = !found.problems.empty();
        oxmeta_name n;
        for (std::string &path : found.files) {
            n.size = sizeof n;
            oxmeta_parse_name(path.c_str(), &n);
            if (!opts.extras && n.is_extra) continue;
            files.push_back(std::move(path));
        }
    }

    // Replayed scans keep no cache: recordings are their own.
    const bool replaying = !s.replay_dir.empty();
    response_cache cache;
    bool use_cache = !opts.no_cache && !replaying;
    if (use_cache) {
        const std::string path = cache_file(s, opts);
        if (path.empty() || !cache.open(path)) {
            if (cache.refused()) {
                std::fprintf(stderr, "oxmeta: %s (pass --cache with another file, or --no-cache)\n",
                             escape_cell(cache.error()).c_str());
                return 2;
            }
            std::fprintf(stderr, "oxmeta: warning: %s; scanning without the cache\n",
                         path.empty() ? "no place for the cache (set XDG_CACHE_HOME or HOME, or pass --cache)"
                                      : escape_cell(cache.error()).c_str());
            use_cache = false;
        }
        for (const std::string &note : cache.notes()) std::fprintf(stderr, "oxmeta: warning: %s\n", escape_cell(note).c_str());
    }
    reply_pool pool(use_cache ? &cache : nullptr, ttls, opts.refresh);
    oxmeta_io serving{&pool, serve, nullptr, nullptr};
    oxmeta_set_io(&serving);

    progress_line progress(!opts.quiet && isatty(STDERR_FILENO));
    scanner scan(run, pool, progress);
    scan.jobs = opts.jobs > 0 ? opts.jobs : s.jobs > 0 ? s.jobs : 4;
    scan.rate = opts.rate > 0 ? opts.rate : s.rate;
    scan.files_total = files.size();
    scan.replaying = replaying;
    scan.retries = s.retries;

    // A byte per file, and the outcomes settled but not yet printed.
    std::vector<char> settled(files.size(), 0);
    std::map<size_t, match_outcome> unprinted;
    std::vector<size_t> pending(files.size());
    for (size_t i = 0; i < files.size(); ++i) pending[i] = i;
    size_t printed = 0;
    bool transport_ok = true;
    bool stopping = false;  // a service made going on pointless: one last pass over what was fetched
    bool output_ok = true;  // with nowhere to write, going on is pointless
    const auto print_settled = [&](bool in_order) {
        for (; output_ok && printed < files.size() && (settled[printed] || !in_order); ++printed) {
            const auto found = unprinted.find(printed);
            if (found == unprinted.end()) continue;
            progress.clear();
            const match_outcome &o = found->second;
            if (!o.stored()) tell_match_error(o);
            output_ok = settled_one(o);
            unprinted.erase(found);
        }
    };
    for (int pass = 0; pass < kMaxPasses && !pending.empty() && transport_ok && output_ok; ++pass) {
        std::vector<size_t> still;
        const bool last_pass = pass + 1 == kMaxPasses;
        scan.pass = pass;
        for (size_t i : pending) {
            pool.begin_file(i);
            match_outcome o = match_file(files[i]);
            if (look_up && o.matched()) look_up(o);
            if (pool.take_missed() && (!last_pass || stopping)) {
                still.push_back(i);
                continue;
            }
            pool.settle(i);
            ++scan.files_done;
            scan.matched += o.matched();
            scan.ambiguous += o.ambiguous();
            scan.failed += !o.stored();
            settled[i] = 1;
            unprinted.emplace(i, std::move(o));
            if (printed == i) print_settled(true);
            if (!output_ok) break;
            progress.draw(scan.status_text());
        }
        // Files print in walk order, as soon as those before them are done.
        print_settled(true);
        pending.swap(still);
        if (stopping || !output_ok) break;
        const std::vector<std::string> wanted = pool.take_wanted();
        if (!wanted.empty() && !pending.empty()) transport_ok = scan.fetch(wanted);
        stopping = !scan.stop_reason().empty();
    }
    print_settled(false);
    progress.clear();
    oxmeta_set_io(run.io);
    if (!transport_ok) return 1;
    if (!output_ok) return 2;  // told as every command tells it
    if (stopping)
        std::fprintf(stderr, "oxmeta: scan stopped: %s; %zu %s left for the next run, what was fetched is kept\n",
                     scan.stop_reason().c_str(), pending.size(), pending.size() == 1 ? "file" : "files");

    const double seconds = std::chrono::duration<double>(clock_type::now() - scan.start).count();
    const size_t unmatched = scan.files_done - scan.matched - scan.ambiguous - scan.failed;
    if (!opts.quiet) {
        const long sent = scan.counters.sent.load();
        const std::string not_kept =
            pool.not_kept() > 0 ? ", " + std::to_string(pool.not_kept()) + " not kept (the cache failed)" : "";
        const std::string failed = scan.failed > 0 ? ", " + std::to_string(scan.failed) + " failed" : "";
        const size_t left = files.size() - scan.files_done;
        const std::string not_done = left > 0 ? ", " + std::to_string(left) + " left" : "";
        std::fprintf(stderr,
                     "oxmeta: %s: %zu %s, %zu matched, %zu ambiguous, %zu unmatched%s%s; %ld %s sent, %ld cache %s%s; "
                     "%.2f s\n",
                     what, files.size(), files.size() == 1 ? "file" : "files", scan.matched, scan.ambiguous, unmatched,
                     failed.c_str(), not_done.c_str(), sent,
                     sent == 1 ? "request" : "requests", pool.cache_hits(), pool.cache_hits() == 1 ? "hit" : "hits",
                     not_kept.c_str(), seconds);
    }
    return scan.matched == files.size() && !walk_problems ? 0 : 1;
}

namespace {

int run_scan(const run_context &run) {
    return scan_media(run, g_scan, "scan", [&run](const match_outcome &o) {
        print_match(o, run.format, run.terminal);
        return flush_output();
    });
}

// ------------------------------------------------------------------ oxmeta cache

std::string when(int64_t t) {
    if (t <= 0) return "";
    char text[32];
    const std::time_t tt = static_cast<std::time_t>(t);
    std::tm tm{};
    gmtime_r(&tt, &tm);
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
    return text;
}

int run_cache(const settings &s, const std::string &action) {
    const std::string path = cache_file(s, g_scan);
    if (path.empty()) {
        std::fprintf(stderr, "oxmeta: no place for the cache: set XDG_CACHE_HOME or HOME, or pass --cache\n");
        return 2;
    }
    if (action == "path") {
        std::printf("%s\n", path.c_str());
        return 0;
    }
    cache_ttls ttls;
    if (!read_ttls(s, g_scan, ttls)) return 2;
    // Only clear writes, and none of them makes a cache that is not there.
    response_cache cache;
    const bool exists = access(path.c_str(), F_OK) == 0;
    if (exists && !cache.open(path, action == "clear" ? cache_access::read_write : cache_access::read_only)) {
        std::fprintf(stderr, "oxmeta: %s\n", escape_cell(cache.error()).c_str());
        return 1;
    }
    for (const std::string &note : cache.notes()) std::fprintf(stderr, "oxmeta: warning: %s\n", escape_cell(note).c_str());
    if (action == "check") {
        if (!exists) {
            std::fprintf(stderr, "oxmeta: there is no cache at %s\n", path.c_str());
            return 1;
        }
        const std::vector<std::string> problems = cache.check();
        for (const std::string &line : problems) std::printf("%s\n", line.c_str());
        if (problems == std::vector<std::string>{"ok"}) return 0;
        std::fprintf(stderr, "oxmeta: the cache %s is damaged; the next scan moves it aside and makes it anew\n",
                     path.c_str());
        return 1;
    }
    const auto st = cache.stats(unix_now(), ttls);
    if (!cache.error().empty()) {
        std::fprintf(stderr, "oxmeta: %s; the cache is damaged (oxmeta cache check tells more)\n",
                     escape_cell(cache.error()).c_str());
        return 1;
    }
    if (action == "clear") {
        if (exists && !cache.clear()) {
            std::fprintf(stderr, "oxmeta: clearing the cache failed: %s\n", cache.error().c_str());
            return 1;
        }
        std::printf("removed %lld replies from %s\n", static_cast<long long>(st.replies), path.c_str());
        return 0;
    }
    std::printf("path\t%s\nreplies\t%lld\nfresh\t%lld\nbytes\t%lld\noldest\t%s\nnewest\t%s\n", path.c_str(),
                static_cast<long long>(st.replies), static_cast<long long>(st.fresh), static_cast<long long>(st.bytes),
                when(st.oldest).c_str(), when(st.newest).c_str());
    for (const auto &c : st.services)
        std::printf("%s\t%lld replies, %lld bytes\n", c.service.c_str(), static_cast<long long>(c.replies),
                    static_cast<long long>(c.bytes));
    return 0;
}

void add_cache_options(CLI::App *cmd, scan_options &opts) {
    cmd->add_option("--cache", opts.cache_path, "The cache file (default: $XDG_CACHE_HOME/oxmeta/cache.sqlite3)")
        ->option_text("PATH")
        ->check(non_empty());
    cmd->add_option("--cache-ttl", opts.cache_ttl,
                    "How long replies stay fresh: search=1d,detail=7d,missing=1h (units s, m, h, d)")
        ->option_text("KIND=TIME,...")
        ->check(non_empty());
}

}  // namespace

void add_scan_options(CLI::App *cmd, scan_options &options) {
    cmd->add_option("--max-depth", options.max_depth, "Read folders at most N levels below each DIR (default: all)")
        ->option_text("N")
        ->check(whole_number(0, 10000));
    cmd->add_option("--ext", options.extensions, "Extensions taken, comma-separated (default: 3gp,avi,divx,flv,iso,"
                                                  "m2ts,m4v,mkv,mov,mp4,mpeg,mpg,mts,ogm,ogv,rmvb,ts,vob,webm,wmv)")
        ->option_text("LIST")
        ->check(CLI::Validator(
            [](std::string &text) {
                return extensions_from(comma_list(text)).empty()
                           ? "must list at least one extension, such as mkv,mp4 (not '" + text + "')"
                           : std::string();
            },
            "LIST"));
    cmd->add_flag("--extras", options.extras, "Take samples, trailers and extras too");
    cmd->add_flag("--hidden", options.hidden, "Take hidden files and folders (names starting with a dot) too");
    cmd->add_option("--jobs", options.jobs, "Requests in flight at once (default 4)")->option_text("N")->check(whole_number(1, 64));
    cmd->add_option("--rate", options.rate, "Requests a second per service (default TMDb 20, OMDb 5, iTunes 0.3)")
        ->option_text("N")
        ->check(real_number(0.01, 1000));
    add_cache_options(cmd, options);
    cmd->add_flag("--no-cache", options.no_cache, "Neither read nor write the response cache");
    cmd->add_flag("--refresh", options.refresh, "Ask the services again, and keep their new replies");
}

void add_scan_commands(CLI::App &app, operation &op, settings &s) {
    CLI::App *scan = app.add_subcommand("scan", "Media files under folders, matched to TMDb (needs TMDB_API_KEY or --tmdb-key)");
    scan->add_option("dir", g_scan.dirs, "Folders (or files) to scan")->required();
    add_scan_options(scan, g_scan);
    scan->add_flag("--quiet,-q", g_scan.quiet, "No progress line and no summary");
    scan->footer("Exit status: 0 every file matched, 1 some did not (or a folder could not be read, or the scan\n"
                 "stopped early), 2 usage, a cache file that is not oxmeta's, or output that could not be written.\n"
                 "Example: mkdir -p Films && touch Films/Blade.Runner.1982.Final.Cut.1080p.BluRay.x264-GRP.mkv && "
                 "oxmeta --offline scan Films");
    scan->callback([&op] {
        op = {"scan", operation::service::tmdb, nullptr, nullptr, run_scan};
        op.whole_run_deadline = false;
    });

    static std::string action;
    CLI::App *cache = app.add_subcommand("cache", "The response cache of scan: stats, clear, check or path");
    cache->add_option("action", action, "stats, clear, check (SQLite's integrity check) or path")
        ->required()
        ->check(one_of({"stats", "clear", "check", "path"}));
    add_cache_options(cache, g_scan);
    cache->footer("Example: oxmeta cache stats");
    cache->callback([&op, &s] {
        op = {"cache", operation::service::local, nullptr, [&s](const output_choice &) { return run_cache(s, action); }};
    });
}
