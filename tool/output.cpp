#include "output.h"

#include <yyjson.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "oxmeta.h"
#include "rows.h"
#include "terminal.h"

namespace {

int g_output_errno = 0;  // the first failure writing stdout

struct status_entry {
    int code;
    const char *name;
};

constexpr status_entry kStatusNames[] = {
    {OXMETA_OK, "OXMETA_OK"},
    {OXMETA_E_TRANSPORT, "OXMETA_E_TRANSPORT"},
    {OXMETA_E_HTTP, "OXMETA_E_HTTP"},
    {OXMETA_E_AUTH, "OXMETA_E_AUTH"},
    {OXMETA_E_RATE_LIMIT, "OXMETA_E_RATE_LIMIT"},
    {OXMETA_E_JSON, "OXMETA_E_JSON"},
    {OXMETA_E_NOT_FOUND, "OXMETA_E_NOT_FOUND"},
    {OXMETA_E_EMPTY, "OXMETA_E_EMPTY"},
    {OXMETA_E_NO_KEY, "OXMETA_E_NO_KEY"},
    {OXMETA_E_NO_IO, "OXMETA_E_NO_IO"},
    {OXMETA_E_INVALID_ARG, "OXMETA_E_INVALID_ARG"},
    {OXMETA_E_OOM, "OXMETA_E_OOM"},
};

// People and collections carry no rating: the 0 TMDb gives them means none.
bool has_rating(int i) {
    const std::string_view type = oxmeta_result_media_type(i);
    // A record of ids alone (tmdb external-ids) has no title and nothing rated.
    return oxmeta_result_rating_permille(i) >= 0 && type != "person" && type != "collection" &&
           *oxmeta_result_title(i) != '\0';
}

// The rating on the service's own scale of ten ("8.2"), or "".
std::string rating_text(int i) {
    if (!has_rating(i)) return "";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", oxmeta_result_rating_permille(i) / 100.0);
    return text;
}

// A full poster address: TMDb gives a path, the other services a URL.
std::string poster_url(int i) {
    const std::string path = oxmeta_result_poster_path(i);
    if (path.empty() || std::string_view(oxmeta_result_source(i)) != "TMDB") return path;
    return oxmeta_tmdb_image_url(path.c_str(), "w500");
}

// "S01E02" for an episode, "" for anything else.
std::string episode_text(int i) {
    if (oxmeta_result_episode_number(i) < 0) return "";
    char code[32];
    std::snprintf(code, sizeof code, "S%02dE%02d", oxmeta_result_season_number(i), oxmeta_result_episode_number(i));
    return code;
}

std::string year_text(int i) {
    const int year = oxmeta_result_year(i);
    return year > 0 ? std::to_string(year) : "";
}

// The columns of a result row, in the order both row formats print them.
struct column {
    const char *header;
    std::string (*cell)(int i);
};

constexpr column kColumns[] = {
    {"#", [](int i) { return std::to_string(i); }},
    {"type", [](int i) { return std::string(oxmeta_result_media_type(i)); }},
    {"id", [](int i) { return std::string(oxmeta_result_id(i)); }},
    {"imdb", [](int i) { return std::string(oxmeta_result_imdb_id(i)); }},
    {"year", year_text},
    {"rating", rating_text},
    {"title", [](int i) { return std::string(oxmeta_result_title(i)); }},
    {"feed", [](int i) { return std::string(oxmeta_result_feed_url(i)); }},
    {"poster", poster_url},
    {"episode", episode_text},
};

// The store's results as rows, a cell per column.
rows result_rows() {
    rows r;
    for (const column &col : kColumns) r.headers.emplace_back(col.header);
    for (int i = 0; i < oxmeta_result_count(); ++i) {
        std::vector<std::string> row;
        for (const column &col : kColumns) row.push_back(col.cell(i));
        r.cells.push_back(std::move(row));
    }
    return r;
}

bool has_last_episode() { return oxmeta_tv_last_episode_season() >= 0 && oxmeta_tv_last_episode_number() > 0; }

// The TV detail's seasons, a summary for people on stderr.
void print_seasons() {
    const int n = oxmeta_tv_season_count();
    std::fprintf(stderr, "\n%d season%s\n", n, n == 1 ? "" : "s");
    for (int i = 0; i < n; ++i) {
        const std::string poster = oxmeta_tv_season_poster(i);
        std::fprintf(stderr, "  season %-3d %s\n", oxmeta_tv_season_number(i),
                     poster.empty() ? "-" : escape_cell(oxmeta_tmdb_image_url(poster.c_str(), "w500")).c_str());
    }
    if (has_last_episode())
        std::fprintf(stderr, "last episode aired: season %d, episode %d\n", oxmeta_tv_last_episode_season(),
                     oxmeta_tv_last_episode_number());
    else
        std::fprintf(stderr, "last episode aired: not given\n");
}

// Why the operation failed: the tool's reason, else the library's.
std::string failure_text(const report_extras &extras) {
    return extras.error.empty() ? std::string(oxmeta_last_error()) : extras.error;
}

// ---------------------------------------------------------------- JSON

void add_text(yyjson_mut_doc *doc, yyjson_mut_val *obj, const char *key, const std::string &text) {
    if (text.empty())
        yyjson_mut_obj_add_null(doc, obj, key);
    else
        yyjson_mut_obj_add_strncpy(doc, obj, key, text.data(), text.size());
}

void add_count(yyjson_mut_doc *doc, yyjson_mut_val *obj, const char *key, int64_t value, bool given) {
    if (given)
        yyjson_mut_obj_add_int(doc, obj, key, value);
    else
        yyjson_mut_obj_add_null(doc, obj, key);
}

void add_results(yyjson_mut_doc *doc, yyjson_mut_val *root) {
    yyjson_mut_val *results = yyjson_mut_obj_add_arr(doc, root, "results");
    for (int i = 0; i < oxmeta_result_count(); ++i) {
        yyjson_mut_val *r = yyjson_mut_arr_add_obj(doc, results);
        const struct {
            const char *key;
            const char *value;
        } texts[] = {
            {"source", oxmeta_result_source(i)},         {"id", oxmeta_result_id(i)},
            {"imdb_id", oxmeta_result_imdb_id(i)},       {"title", oxmeta_result_title(i)},
            {"original_title", oxmeta_result_original_title(i)}, {"overview", oxmeta_result_overview(i)},
            {"media_type", oxmeta_result_media_type(i)}, {"poster_path", oxmeta_result_poster_path(i)},
            {"backdrop_path", oxmeta_result_backdrop_path(i)}, {"feed_url", oxmeta_result_feed_url(i)},
        };
        for (const auto &t : texts) add_text(doc, r, t.key, t.value);
        add_text(doc, r, "poster_url", poster_url(i));
        add_count(doc, r, "year", oxmeta_result_year(i), oxmeta_result_year(i) > 0);
        if (has_rating(i))
            yyjson_mut_obj_add_real(doc, r, "rating", oxmeta_result_rating_permille(i) / 100.0);
        else
            yyjson_mut_obj_add_null(doc, r, "rating");
        add_count(doc, r, "rating_permille", oxmeta_result_rating_permille(i), has_rating(i));
        const int popularity = oxmeta_result_popularity_permille(i);
        add_count(doc, r, "popularity_permille", popularity, popularity >= 0);
        const int number = oxmeta_result_episode_number(i);
        add_count(doc, r, "season_number", oxmeta_result_season_number(i), number >= 0);
        add_count(doc, r, "episode_number", number, number >= 0);
    }
}

void add_value(yyjson_mut_doc *doc, yyjson_mut_val *root, const report_extras &extras) {
    using kind = report_extras::value_kind;
    if (extras.kind == kind::none) return;
    if (!extras.has_value)
        yyjson_mut_obj_add_null(doc, root, "value");
    else if (extras.kind == kind::number)
        yyjson_mut_obj_add_int(doc, root, "value", extras.number);
    else
        yyjson_mut_obj_add_strncpy(doc, root, "value", extras.text.data(), extras.text.size());
}

void add_seasons(yyjson_mut_doc *doc, yyjson_mut_val *root) {
    yyjson_mut_val *seasons = yyjson_mut_obj_add_arr(doc, root, "seasons");
    for (int i = 0; i < oxmeta_tv_season_count(); ++i) {
        yyjson_mut_val *s = yyjson_mut_arr_add_obj(doc, seasons);
        yyjson_mut_obj_add_int(doc, s, "number", oxmeta_tv_season_number(i));
        add_text(doc, s, "poster_path", oxmeta_tv_season_poster(i));
    }
    if (!has_last_episode()) {
        yyjson_mut_obj_add_null(doc, root, "last_episode");
        return;
    }
    yyjson_mut_val *last = yyjson_mut_obj_add_obj(doc, root, "last_episode");
    yyjson_mut_obj_add_int(doc, last, "season", oxmeta_tv_last_episode_season());
    yyjson_mut_obj_add_int(doc, last, "episode", oxmeta_tv_last_episode_number());
}

// One document with the same keys whether the operation succeeded or not.
void print_json(const std::string &operation, int rc, const report_extras &extras) {
    yyjson_mut_doc *doc = yyjson_mut_doc_new(nullptr);
    yyjson_mut_val *root = yyjson_mut_obj(doc);
    yyjson_mut_doc_set_root(doc, root);
    yyjson_mut_obj_add_strcpy(doc, root, "operation", operation.c_str());
    yyjson_mut_obj_add_str(doc, root, "status", status_name(rc));
    yyjson_mut_obj_add_int(doc, root, "code", rc);
    yyjson_mut_obj_add_int(doc, root, "http_status", oxmeta_last_http_code());
    yyjson_mut_obj_add_int(doc, root, "page", oxmeta_page());
    yyjson_mut_obj_add_int(doc, root, "total_pages", oxmeta_total_pages());
    yyjson_mut_obj_add_int(doc, root, "total_results", oxmeta_total_results());
    yyjson_mut_val *warnings = yyjson_mut_obj_add_arr(doc, root, "warnings");
    for (int i = 0; i < oxmeta_warning_count(); ++i) yyjson_mut_arr_add_strcpy(doc, warnings, oxmeta_warning(i));
    add_text(doc, root, "last_error", rc == OXMETA_OK ? "" : failure_text(extras));
    add_value(doc, root, extras);
    add_results(doc, root);
    if (extras.seasons) add_seasons(doc, root);
    char *text = yyjson_mut_write(doc, YYJSON_WRITE_PRETTY_TWO_SPACES, nullptr);
    if (text) std::printf("%s\n", text);
    std::free(text);
    yyjson_mut_doc_free(doc);
}

void print_value(const report_extras &extras) {
    if (!extras.has_value) return;
    if (extras.kind == report_extras::value_kind::number)
        std::printf("%lld\n", static_cast<long long>(extras.number));
    else
        std::printf("%s\n", escape_cell(extras.text).c_str());
}

}  // namespace

const char *status_name(int code) {
    for (const auto &entry : kStatusNames)
        if (entry.code == code) return entry.name;
    return "unknown";
}

void print_report(const std::string &operation, int rc, output_format format, bool truncate,
                  const report_extras &extras) {
    if (format == output_format::json) {
        print_json(operation, rc, extras);
    } else if (rc == OXMETA_OK && extras.kind != report_extras::value_kind::none) {
        print_value(extras);
    } else if (rc == OXMETA_OK) {
        if (format == output_format::tsv)
            print_tab_separated(result_rows());
        else
            print_aligned(result_rows(), truncate);
        if (oxmeta_total_pages() > 0 && !extras.seasons)
            std::fprintf(stderr, "page %d of %d, %d results\n", oxmeta_page(), oxmeta_total_pages(),
                         oxmeta_total_results());
        if (extras.seasons) print_seasons();
    }
    if (format != output_format::json)
        for (int i = 0; i < oxmeta_warning_count(); ++i)
            std::fprintf(stderr, "oxmeta: warning: %s\n", escape_cell(oxmeta_warning(i)).c_str());
    if (rc != OXMETA_OK)
        std::fprintf(stderr, "oxmeta: %s (%s)\n", escape_cell(failure_text(extras)).c_str(), status_name(rc));
}

bool flush_output() {
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
    if (g_output_errno == 0) g_output_errno = errno ? errno : EIO;
    return false;
}

const char *output_error() { return std::strerror(g_output_errno ? g_output_errno : EIO); }
