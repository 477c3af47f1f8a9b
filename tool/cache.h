// The response cache: replies kept in SQLite by their URL without
// credentials, with the time they were fetched, so that a second scan asks
// the services nothing it already knows.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

// How long a kept reply stays fresh, by kind of request, in seconds.
struct cache_ttls {
    int64_t search = 86400;      // /search/... replies
    int64_t detail = 7 * 86400;  // every other reply
    int64_t missing = 3600;      // 404s, of either kind
};

// Reads "search=12h,detail=7d,missing=30m" (units s, m, h, d) into ttls;
// false with *error set when the text is not such a list (ttls then unchanged).
bool parse_cache_ttls(const std::string &text, cache_ttls &ttls, std::string *error);

// The default cache file: $XDG_CACHE_HOME/oxmeta/cache.sqlite3, else
// ~/.cache/oxmeta/cache.sqlite3 ("" when neither variable is set).
std::string default_cache_path();

// Whether a reply of this status is kept: successes and 404s; never an
// error reply (5xx, 429, 401 ...) or a transport failure.
bool cacheable_status(int status);

struct cached_reply {
    int status;
    std::string body;
    int64_t fetched;  // Unix time
};

// How a cache file is opened: to read and keep replies, or only to read
// (`cache stats`, which never writes).
enum class cache_access { read_write, read_only };

class response_cache {
public:
    response_cache() = default;
    ~response_cache();
    response_cache(const response_cache &) = delete;
    response_cache &operator=(const response_cache &) = delete;

    // Opens the cache at path. With read_write, a missing cache is made
    // (its folder 0700, the file 0600); a file or folder the tool may not
    // write is opened read-only. Only a file that is certainly oxmeta's and
    // certainly damaged is moved aside and made anew; notes() then says so.
    // False, with error(), when no cache can be had at path: refused() when
    // the file is not oxmeta's or was written by a newer version (it is left
    // untouched), busy() when another program held it too long.
    bool open(const std::string &path, cache_access access = cache_access::read_write);

    // The fresh reply kept for key (a URL without credentials), if any.
    std::optional<cached_reply> find(const std::string &key, int64_t now, const cache_ttls &ttls);
    // Drops the reply kept for key, if any.
    void forget(const std::string &key);
    // Keeps a reply; false on a failure (the first one ends the cache's use
    // for this run, and error() says why) or when the cache is read-only.
    bool store(const std::string &key, const std::string &service, int status, const std::string &body,
               int64_t now);

    struct service_count {
        std::string service;
        int64_t replies;
        int64_t bytes;
    };
    struct summary {
        int64_t replies = 0;
        int64_t fresh = 0;
        int64_t bytes = 0;
        int64_t oldest = 0;
        int64_t newest = 0;
        std::vector<service_count> services;
    };
    // What the cache holds; error() is set when it could not all be read.
    summary stats(int64_t now, const cache_ttls &ttls);
    // Removes every reply.
    bool clear();
    // SQLite's integrity check: "ok", or the problems it found.
    std::vector<std::string> check();

    bool refused() const { return refused_; }
    bool busy() const { return busy_; }
    bool read_only() const { return read_only_; }
    bool is_open() const { return db_ != nullptr; }
    const std::string &error() const { return error_; }
    const std::vector<std::string> &notes() const { return notes_; }

private:
    enum class verdict { ours, damaged, refused, busy, failed };
    bool open_file(bool writable);
    verdict identify();
    verdict layout();
    bool make_layout();
    bool exec(const char *sql);
    void close();
    verdict failure(int rc, const char *what);
    // A failure reading or writing a file that opened: kept for error(),
    // and the cache is used no more this run.
    void broken(const char *what);

    sqlite3 *db_ = nullptr;
    std::mutex mutex_;  // one connection, shared by the workers
    std::string path_;
    std::string error_;
    std::vector<std::string> notes_;
    bool refused_ = false;
    bool busy_ = false;
    bool read_only_ = false;
};
