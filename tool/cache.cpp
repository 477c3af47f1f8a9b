#include "cache.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string_view>

#include "cli.h"
#include "config.h"

namespace fs = std::filesystem;

namespace {

constexpr const char *kSchemaVersion = "1";
constexpr int kBusyTimeoutMs = 10000;  // another scan writing at the same moment

// A prepared statement, finalised with it.
class statement {
public:
    statement(sqlite3 *db, const char *sql) {
        if (db) sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
    }
    ~statement() { sqlite3_finalize(stmt_); }
    statement(const statement &) = delete;
    statement &operator=(const statement &) = delete;
    bool ok() const { return stmt_ != nullptr; }
    sqlite3_stmt *get() const { return stmt_; }
    void bind(int i, const std::string &text) {
        sqlite3_bind_text(stmt_, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    void bind(int i, int64_t value) { sqlite3_bind_int64(stmt_, i, value); }
    int step() { return sqlite3_step(stmt_); }
    std::string text(int column) const {
        const auto *p = static_cast<const char *>(sqlite3_column_blob(stmt_, column));
        return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(stmt_, column))) : std::string();
    }
    int64_t number(int column) const { return sqlite3_column_int64(stmt_, column); }

private:
    sqlite3_stmt *stmt_ = nullptr;
};

bool is_search(std::string_view key) { return key.find("/search/") != std::string_view::npos; }

int64_t ttl_of(std::string_view key, int status, const cache_ttls &ttls) {
    if (status == 404) return ttls.missing;
    return is_search(key) ? ttls.search : ttls.detail;
}

}  // namespace

bool parse_cache_ttls(const std::string &text, cache_ttls &ttls, std::string *error) {
    cache_ttls parsed = ttls;
    for (const std::string &item : comma_list(text)) {
        const size_t eq = item.find('=');
        const std::string kind = item.substr(0, eq);
        int64_t *slot = kind == "search" ? &parsed.search : kind == "detail" ? &parsed.detail
                      : kind == "missing" ? &parsed.missing : nullptr;
        const std::string amount = eq == std::string::npos ? "" : item.substr(eq + 1);
        char *end = nullptr;
        errno = 0;
        const long long number = amount.empty() ? -1 : std::strtoll(amount.c_str(), &end, 10);
        const std::string_view unit = end ? std::string_view(end) : std::string_view();
        const int64_t scale = unit == "" || unit == "s" ? 1 : unit == "m" ? 60 : unit == "h" ? 3600 : unit == "d" ? 86400 : 0;
        if (!slot || number < 0 || errno != 0 || scale == 0 || number > INT64_MAX / scale) {
            if (error)
                *error = "cache TTL '" + item + "' must be KIND=DURATION, KIND search, detail or missing, " +
                         "DURATION such as 90s, 30m, 12h or 7d";
            return false;
        }
        *slot = number * scale;
    }
    ttls = parsed;
    return true;
}

std::string default_cache_path() { return user_file("XDG_CACHE_HOME", ".cache", "cache.sqlite3"); }

bool cacheable_status(int status) { return (status >= 200 && status <= 299) || status == 404; }

response_cache::~response_cache() { close(); }

void response_cache::close() {
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
}

bool response_cache::exec(const char *sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

void response_cache::broken(const char *what) {
    error_ = std::string(what) + ": " + (db_ ? sqlite3_errmsg(db_) : "no cache") + " (" + path_ + ")";
    close();
}

bool response_cache::open_file(const std::string &path) {
    close();
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        error_ = "cannot open the cache " + path + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory");
        close();
        return false;
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    // In WAL mode NORMAL keeps the file consistent through a crash; only the
    // last replies written may be lost, and they are fetched again.
    exec("PRAGMA synchronous = NORMAL");
    return true;
}

// The file holds this layout, or nothing yet (a new, empty database).
bool response_cache::has_layout() {
    statement tables(db_, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name");
    if (!tables.ok()) return false;  // not a database at all
    std::vector<std::string> names;
    int rc = 0;
    while ((rc = tables.step()) == SQLITE_ROW) names.push_back(tables.text(0));
    if (rc != SQLITE_DONE) return false;
    if (names.empty()) return make_layout();
    if (names != std::vector<std::string>{"meta", "replies"}) return false;
    statement version(db_, "SELECT value FROM meta WHERE key = 'schema_version'");
    if (!version.ok() || version.step() != SQLITE_ROW || version.text(0) != kSchemaVersion) return false;
    // Reading a page of replies finds a file whose pages are damaged.
    statement probe(db_, "SELECT count(*) FROM (SELECT url, body FROM replies LIMIT 64)");
    return probe.ok() && probe.step() == SQLITE_ROW && exec("PRAGMA journal_mode = WAL");
}

bool response_cache::make_layout() {
    return exec("PRAGMA journal_mode = WAL") &&
           exec("BEGIN IMMEDIATE;"
                "CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value TEXT NOT NULL);"
                "CREATE TABLE IF NOT EXISTS replies (url TEXT PRIMARY KEY, service TEXT NOT NULL,"
                " status INTEGER NOT NULL, body BLOB NOT NULL, fetched INTEGER NOT NULL);"
                "INSERT OR IGNORE INTO meta VALUES ('schema_version', '1'), ('written_by', 'oxmeta');"
                "COMMIT;");
}

bool response_cache::open(const std::string &path) {
    std::lock_guard<std::mutex> hold(mutex_);
    path_ = path;
    error_.clear();
    std::error_code ec;
    const fs::path parent = fs::path(path).parent_path();
    if (!parent.empty()) fs::create_directories(parent, ec);
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        error_ = "the cache " + path + " is not a file";
        return false;
    }
    if (!open_file(path)) return false;
    if (has_layout()) return true;
    // Not ours, or damaged: keep it for a person to look at, start afresh.
    close();
    const std::string aside = path + ".bad-" + std::to_string(static_cast<long long>(std::time(nullptr)));
    fs::rename(path, aside, ec);
    if (ec) {
        error_ = "the cache " + path + " is damaged or not oxmeta's, and cannot be moved aside: " + ec.message();
        return false;
    }
    for (const char *suffix : {"-wal", "-shm"}) fs::remove(path + suffix, ec);
    notes_.push_back("the cache " + path + " was damaged or not oxmeta's; moved aside to " + aside +
                     " and made anew");
    if (open_file(path) && has_layout()) return true;
    if (error_.empty()) broken("cannot make the cache");
    return false;
}

std::optional<cached_reply> response_cache::find(const std::string &key, int64_t now, const cache_ttls &ttls) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!db_) return std::nullopt;
    statement q(db_, "SELECT status, body, fetched FROM replies WHERE url = ?1");
    if (!q.ok()) {
        broken("reading the cache failed");
        return std::nullopt;
    }
    q.bind(1, key);
    const int rc = q.step();
    if (rc == SQLITE_DONE) return std::nullopt;
    if (rc != SQLITE_ROW) {
        broken("reading the cache failed");
        return std::nullopt;
    }
    cached_reply reply{static_cast<int>(q.number(0)), q.text(1), q.number(2)};
    if (reply.fetched + ttl_of(key, reply.status, ttls) <= now) return std::nullopt;
    return reply;
}

void response_cache::forget(const std::string &key) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!db_) return;
    statement q(db_, "DELETE FROM replies WHERE url = ?1");
    q.bind(1, key);
    q.step();
}

bool response_cache::store(const std::string &key, const std::string &service, int status, const std::string &body,
                           int64_t now) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!db_ || !cacheable_status(status)) return false;
    // One statement is one transaction: an interrupted run leaves the old
    // reply or the new one, never half of either.
    statement q(db_, "INSERT OR REPLACE INTO replies (url, service, status, body, fetched) VALUES (?1, ?2, ?3, ?4, ?5)");
    if (!q.ok()) {
        broken("writing the cache failed");
        return false;
    }
    q.bind(1, key);
    q.bind(2, service);
    q.bind(3, static_cast<int64_t>(status));
    sqlite3_bind_blob(q.get(), 4, body.data(), static_cast<int>(body.size()), SQLITE_TRANSIENT);
    q.bind(5, now);
    if (q.step() != SQLITE_DONE) {
        broken("writing the cache failed");
        return false;
    }
    return true;
}

response_cache::summary response_cache::stats(int64_t now, const cache_ttls &ttls) {
    std::lock_guard<std::mutex> hold(mutex_);
    summary s;
    statement all(db_, "SELECT url, service, status, length(body), fetched FROM replies");
    if (!all.ok()) return s;
    while (all.step() == SQLITE_ROW) {
        const std::string url = all.text(0);
        const std::string service = all.text(1);
        const int64_t bytes = all.number(3);
        const int64_t fetched = all.number(4);
        ++s.replies;
        s.bytes += bytes;
        if (fetched + ttl_of(url, static_cast<int>(all.number(2)), ttls) > now) ++s.fresh;
        s.oldest = s.replies == 1 ? fetched : std::min(s.oldest, fetched);
        s.newest = std::max(s.newest, fetched);
        bool counted = false;
        for (auto &c : s.services) {
            if (c.service != service) continue;
            ++c.replies;
            c.bytes += bytes;
            counted = true;
        }
        if (!counted) s.services.push_back({service, 1, bytes});
    }
    return s;
}

bool response_cache::clear() {
    std::lock_guard<std::mutex> hold(mutex_);
    return db_ && exec("DELETE FROM replies") && exec("VACUUM");
}
