#include "cache.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

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

constexpr int kSchemaVersion = 1;
constexpr int64_t kApplicationId = 0x4f584d43;  // "OXMC", in the file's header: the file is oxmeta's cache
constexpr int kBusyTimeoutMs = 5000;           // another program writing at the same moment

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

// The application id in a database file's header (bytes 68 to 71, big-endian).
int64_t header_application_id(const std::string &path) {
    unsigned char header[72] = {};
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return 0;
    const size_t n = std::fread(header, 1, sizeof header, f);
    std::fclose(f);
    if (n < sizeof header) return 0;
    return static_cast<int64_t>(uint32_t{header[68]} << 24 | uint32_t{header[69]} << 16 | uint32_t{header[70]} << 8 |
                                uint32_t{header[71]});
}

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
    error_ = std::string(what) + ": " + (db_ ? sqlite3_errmsg(db_) : "no cache");
    if (db_ && sqlite3_system_errno(db_) != 0) error_ += std::string(" (") + std::strerror(sqlite3_system_errno(db_)) + ")";
    error_ += " (" + path_ + ")";
    close();
}

bool response_cache::open_file(bool writable) {
    close();
    const int flags = (writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_FULLMUTEX;
    if (sqlite3_open_v2(path_.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        error_ = "cannot open the cache " + path_ + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory");
        close();
        return false;
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    return true;
}

response_cache::verdict response_cache::failure(int rc, const char *what) {
    switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        error_ = "the cache " + path_ + " is busy: another program has held it for " +
                 std::to_string(kBusyTimeoutMs / 1000) + " s";
        return verdict::busy;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return verdict::damaged;
    default:
        error_ = std::string(what) + " " + path_ + ": " + sqlite3_errmsg(db_);
        return verdict::failed;
    }
}

// Whose file this is, and whether it reads: oxmeta's caches carry its
// application id (the first layout's carry a meta table that says so).
response_cache::verdict response_cache::identify() {
    int64_t application_id = 0;
    int64_t tables = 0;
    // Damage met before the file is known to be ours: only the mark in its
    // header can say whose it is.
    const auto unread = [this](int rc) {
        const verdict v = failure(rc, "cannot read the cache");
        if (v != verdict::damaged || header_application_id(path_) == kApplicationId) return v;
        refused_ = true;
        error_ = "the file " + path_ + " cannot be read and does not carry oxmeta's mark; left as it is";
        return verdict::refused;
    };
    {
        statement id(db_, "PRAGMA application_id");
        const int rc = id.ok() ? id.step() : sqlite3_errcode(db_);
        if (rc != SQLITE_ROW) return unread(rc);
        application_id = id.number(0);
        statement count(db_, "SELECT count(*) FROM sqlite_master");
        const int counted = count.ok() ? count.step() : sqlite3_errcode(db_);
        if (counted != SQLITE_ROW) return unread(counted);
        tables = count.number(0);
    }
    if (application_id == 0 && tables == 0) return verdict::ours;  // an empty database: a new cache
    bool ours = application_id == kApplicationId;
    if (application_id == 0) {
        statement marker(db_, "SELECT value FROM meta WHERE key = 'written_by'");
        ours = marker.ok() && marker.step() == SQLITE_ROW && marker.text(0) == "oxmeta";
    }
    if (!ours) {
        refused_ = true;
        error_ = "the file " + path_ + " is not oxmeta's cache (another program's SQLite database); left as it is";
        return verdict::refused;
    }
    statement version(db_, "SELECT value FROM meta WHERE key = 'schema_version'");
    const int rc = version.ok() ? version.step() : sqlite3_errcode(db_);
    if (rc == SQLITE_ROW && std::atoll(version.text(0).c_str()) > kSchemaVersion) {
        refused_ = true;
        error_ = "the cache " + path_ + " was written by a newer oxmeta (layout " + version.text(0) +
                 ", this one reads layout " + std::to_string(kSchemaVersion) + "); left as it is";
        return verdict::refused;
    }
    if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? verdict::damaged : failure(rc, "cannot read the cache");
    return layout();
}

// Ours: the layout is whole and a page of replies reads.
response_cache::verdict response_cache::layout() {
    statement tables(db_, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name");
    if (!tables.ok()) return failure(sqlite3_errcode(db_), "cannot read the cache");
    std::vector<std::string> names;
    int rc = 0;
    while ((rc = tables.step()) == SQLITE_ROW) names.push_back(tables.text(0));
    if (rc != SQLITE_DONE) return failure(rc, "cannot read the cache");
    if (names != std::vector<std::string>{"meta", "replies"}) return verdict::damaged;
    statement probe(db_, "SELECT count(*) FROM (SELECT url, body FROM replies LIMIT 64)");
    rc = probe.ok() ? probe.step() : sqlite3_errcode(db_);
    return rc == SQLITE_ROW ? verdict::ours : failure(rc, "cannot read the cache");
}

bool response_cache::make_layout() {
    const std::string sql = "BEGIN IMMEDIATE;"
                            "PRAGMA application_id = " + std::to_string(kApplicationId) + ";"
                            "CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value TEXT NOT NULL);"
                            "CREATE TABLE IF NOT EXISTS replies (url TEXT PRIMARY KEY, service TEXT NOT NULL,"
                            " status INTEGER NOT NULL, body BLOB NOT NULL, fetched INTEGER NOT NULL);"
                            "INSERT OR IGNORE INTO meta VALUES ('schema_version', '" + std::to_string(kSchemaVersion) +
                            "'), ('written_by', 'oxmeta');"
                            "COMMIT;";
    return exec(sql.c_str()) && exec("PRAGMA journal_mode = WAL");
}

namespace {

// The first bytes of every SQLite database.
bool looks_like_sqlite(const std::string &path, off_t size) {
    if (size == 0) return true;
    char header[16] = {};
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return true;  // SQLite tells why it cannot be read
    const size_t n = std::fread(header, 1, sizeof header, f);
    std::fclose(f);
    return n == sizeof header && std::memcmp(header, "SQLite format 3", 16) == 0;
}

// Makes the folders of path that are missing, private to the user.
void make_private_folders(const fs::path &folder) {
    if (folder.empty() || fs::exists(folder)) return;
    make_private_folders(folder.parent_path());
    mkdir(folder.c_str(), 0700);
}

bool writable_here(const std::string &path) {
    const fs::path parent = fs::path(path).parent_path();
    return access(path.c_str(), W_OK) == 0 && access(parent.empty() ? "." : parent.c_str(), W_OK) == 0;
}

}  // namespace

bool response_cache::open(const std::string &path, cache_access access) {
    std::lock_guard<std::mutex> hold(mutex_);
    path_ = path;
    error_.clear();
    refused_ = busy_ = read_only_ = false;
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        if (access == cache_access::read_only) {
            error_ = "there is no cache at " + path;
            return false;
        }
        make_private_folders(fs::path(path).parent_path());
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) {
            error_ = "cannot make the cache " + path + ": " + std::strerror(errno);
            return false;
        }
        if (fd >= 0) ::close(fd);
        if (stat(path.c_str(), &info) != 0) {
            error_ = "cannot make the cache " + path + ": " + std::strerror(errno);
            return false;
        }
    }
    if (!S_ISREG(info.st_mode)) {
        refused_ = true;
        error_ = "the cache " + path + " is not a file";
        return false;
    }
    if (!looks_like_sqlite(path, info.st_size)) {
        refused_ = true;
        error_ = "the file " + path + " is not oxmeta's cache (not an SQLite database); left as it is";
        return false;
    }
    // Read-only access still opens for writing where it may: SQLite then
    // removes the files of its log when done, as after any scan. Nothing
    // is written to the cache itself.
    const bool writable = writable_here(path);
    read_only_ = !writable || access == cache_access::read_only;
    if (access == cache_access::read_write && !writable)
        notes_.push_back("the cache " + path + " cannot be written here; it is read, and new replies are not kept");
    if (!open_file(writable)) return false;
    verdict v = identify();
    if (v == verdict::ours && !read_only_) {
        // A new cache gets its layout; a first-layout cache its mark.
        bool empty = false;
        bool marked = false;
        {
            statement tables(db_, "SELECT count(*) FROM sqlite_master");
            empty = tables.ok() && tables.step() == SQLITE_ROW && tables.number(0) == 0;
            statement id(db_, "PRAGMA application_id");
            marked = id.ok() && id.step() == SQLITE_ROW && id.number(0) == kApplicationId;
        }
        const std::string mark = "PRAGMA application_id = " + std::to_string(kApplicationId);
        const bool ready = empty ? make_layout() : (marked || exec(mark.c_str())) && exec("PRAGMA journal_mode = WAL");
        if (!ready) v = failure(sqlite3_errcode(db_), "cannot write the cache");
        if ((info.st_mode & 077) != 0) chmod(path.c_str(), info.st_mode & 0700);
    }
    if (v == verdict::ours) {
        // In WAL mode NORMAL keeps the file consistent through a crash; only
        // the last replies written may be lost, and they are fetched again.
        exec("PRAGMA synchronous = NORMAL");
        return true;
    }
    busy_ = v == verdict::busy;
    close();
    if (v != verdict::damaged) return false;
    // Certainly ours (its mark, or its first layout's) and certainly damaged:
    // kept for a person to look at, and made anew.
    if (read_only_) {
        error_ = "the cache " + path + " is damaged" +
                 (access == cache_access::read_write ? ", and cannot be moved aside here" : " (oxmeta scan moves it aside)");
        return false;
    }
    const std::string aside = path + ".bad-" + std::to_string(static_cast<long long>(std::time(nullptr)));
    std::error_code ec;
    fs::rename(path, aside, ec);
    if (ec) {
        error_ = "the cache " + path + " is damaged, and cannot be moved aside: " + ec.message();
        return false;
    }
    for (const char *suffix : {"-wal", "-shm"}) fs::rename(path + suffix, aside + suffix, ec);
    notes_.push_back("the cache " + path + " was damaged; moved aside to " + aside + " and made anew");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) ::close(fd);
    if (open_file(true) && make_layout()) {
        exec("PRAGMA synchronous = NORMAL");
        return true;
    }
    if (db_) broken("cannot make the cache");
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
    if (!db_ || read_only_) return;
    statement q(db_, "DELETE FROM replies WHERE url = ?1");
    q.bind(1, key);
    q.step();
}

bool response_cache::store(const std::string &key, const std::string &service, int status, const std::string &body,
                           int64_t now) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!db_ || read_only_ || !cacheable_status(status)) return false;
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
    int rc = 0;
    while ((rc = all.step()) == SQLITE_ROW) {
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
    // Counts that stopped part way are no counts: say where it broke.
    if (rc != SQLITE_DONE) error_ = std::string("reading the cache ") + path_ + " failed: " + sqlite3_errmsg(db_);
    return s;
}

bool response_cache::clear() {
    std::lock_guard<std::mutex> hold(mutex_);
    if (db_ && !read_only_ && exec("DELETE FROM replies") && exec("VACUUM")) return true;
    if (db_) error_ = read_only_ ? "the cache " + path_ + " cannot be written here" : sqlite3_errmsg(db_);
    return false;
}

std::vector<std::string> response_cache::check() {
    std::lock_guard<std::mutex> hold(mutex_);
    std::vector<std::string> problems;
    statement q(db_, "PRAGMA integrity_check");
    if (!q.ok()) return {std::string(db_ ? sqlite3_errmsg(db_) : "no cache")};
    int rc = 0;
    while ((rc = q.step()) == SQLITE_ROW) problems.push_back(q.text(0));
    if (rc != SQLITE_DONE) problems.push_back(sqlite3_errmsg(db_));
    return problems;
}
