#include "output.h"

#include <yyjson.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "oxmeta.h"

namespace {

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

// The rating on the service's own scale of ten ("8.2"), or "-".
std::string rating_text(int permille) {
    if (permille < 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", permille / 100.0);
    return text;
}

// A full poster address: TMDb gives a path, the other services a URL.
std::string poster_url(int i) {
    const std::string path = oxmeta_result_poster_path(i);
    if (path.empty() || std::string(oxmeta_result_source(i)) != "TMDB") return path;
    return oxmeta_tmdb_image_url(path.c_str(), "w500");
}

// Width of a UTF-8 text in characters, for alignment.
size_t width(const std::string &text) {
    return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

struct column {
    const char *header;
    std::vector<std::string> cells;
};

void print_table() {
    const int n = oxmeta_result_count();
    std::vector<column> columns = {{"#", {}},     {"type", {}},  {"id", {}},    {"imdb", {}},
                                   {"year", {}},  {"rating", {}}, {"title", {}}, {"feed", {}},
                                   {"poster", {}}};
    for (int i = 0; i < n; ++i) {
        const int year = oxmeta_result_year(i);
        const std::string cells[] = {
            std::to_string(i), oxmeta_result_media_type(i), oxmeta_result_id(i), oxmeta_result_imdb_id(i),
            year > 0 ? std::to_string(year) : "-", rating_text(oxmeta_result_rating_permille(i)),
            oxmeta_result_title(i), oxmeta_result_feed_url(i), poster_url(i)};
        for (size_t c = 0; c < columns.size(); ++c) columns[c].cells.push_back(cells[c]);
    }
    // Columns that hold nothing in any row are left out.
    std::erase_if(columns, [](const column &col) {
        return std::all_of(col.cells.begin(), col.cells.end(), [](const std::string &s) { return s.empty(); });
    });
    if (n == 0) return;
    std::vector<size_t> widths;
    for (const auto &col : columns) {
        size_t w = width(col.header);
        for (const auto &cell : col.cells) w = std::max(w, width(cell));
        widths.push_back(w);
    }
    auto print_row = [&](auto cell_of) {
        std::string line;
        for (size_t c = 0; c < columns.size(); ++c) {
            const std::string cell = cell_of(c);
            line += cell;
            if (c + 1 < columns.size()) line += std::string(widths[c] - width(cell) + 2, ' ');
        }
        std::printf("%s\n", line.c_str());
    };
    print_row([&](size_t c) { return std::string(columns[c].header); });
    for (int i = 0; i < n; ++i) print_row([&](size_t c) { return columns[c].cells[static_cast<size_t>(i)]; });
}

void print_seasons() {
    const int n = oxmeta_tv_season_count();
    std::printf("\n%d season%s\n", n, n == 1 ? "" : "s");
    for (int i = 0; i < n; ++i) {
        const std::string poster = oxmeta_tv_season_poster(i);
        std::printf("  season %-3d %s\n", oxmeta_tv_season_number(i),
                    poster.empty() ? "-" : oxmeta_tmdb_image_url(poster.c_str(), "w500"));
    }
    std::printf("last episode aired: season %d, episode %d\n", oxmeta_tv_last_episode_season(),
                oxmeta_tv_last_episode_number());
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
        for (const auto &t : texts) yyjson_mut_obj_add_strcpy(doc, r, t.key, t.value);
        yyjson_mut_obj_add_strcpy(doc, r, "poster_url", poster_url(i).c_str());
        const int year = oxmeta_result_year(i);
        if (year > 0)
            yyjson_mut_obj_add_int(doc, r, "year", year);
        else
            yyjson_mut_obj_add_null(doc, r, "year");
        const int rating = oxmeta_result_rating_permille(i);
        if (rating >= 0)
            yyjson_mut_obj_add_real(doc, r, "rating", rating / 100.0);
        else
            yyjson_mut_obj_add_null(doc, r, "rating");
        yyjson_mut_obj_add_int(doc, r, "rating_permille", rating);
        yyjson_mut_obj_add_int(doc, r, "popularity_permille", oxmeta_result_popularity_permille(i));
    }
}

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
    yyjson_mut_obj_add_strcpy(doc, root, "last_error", oxmeta_last_error());
    if (extras.has_value) yyjson_mut_obj_add_strcpy(doc, root, "value", extras.value.c_str());
    add_results(doc, root);
    if (extras.seasons) {
        yyjson_mut_val *seasons = yyjson_mut_obj_add_arr(doc, root, "seasons");
        for (int i = 0; i < oxmeta_tv_season_count(); ++i) {
            yyjson_mut_val *s = yyjson_mut_arr_add_obj(doc, seasons);
            yyjson_mut_obj_add_int(doc, s, "number", oxmeta_tv_season_number(i));
            yyjson_mut_obj_add_strcpy(doc, s, "poster_path", oxmeta_tv_season_poster(i));
        }
        yyjson_mut_val *last = yyjson_mut_obj_add_obj(doc, root, "last_episode");
        yyjson_mut_obj_add_int(doc, last, "season", oxmeta_tv_last_episode_season());
        yyjson_mut_obj_add_int(doc, last, "episode", oxmeta_tv_last_episode_number());
    }
    char *text = yyjson_mut_write(doc, YYJSON_WRITE_PRETTY_TWO_SPACES, nullptr);
    if (text) std::printf("%s\n", text);
    std::free(text);
    yyjson_mut_doc_free(doc);
}

}  // namespace

const char *status_name(int code) {
    for (const auto &entry : kStatusNames)
        if (entry.code == code) return entry.name;
    return "unknown";
}

void print_report(const std::string &operation, int rc, bool json, const report_extras &extras) {
    if (json) {
        print_json(operation, rc, extras);
    } else if (rc == OXMETA_OK && extras.has_value) {
        std::printf("%s\n", extras.value.c_str());
    } else if (rc == OXMETA_OK) {
        print_table();
        if (oxmeta_total_pages() > 0 && !extras.seasons)
            std::printf("\npage %d of %d, %d results\n", oxmeta_page(), oxmeta_total_pages(),
                        oxmeta_total_results());
        if (extras.seasons) print_seasons();
    }
    if (!json)
        for (int i = 0; i < oxmeta_warning_count(); ++i) std::fprintf(stderr, "warning: %s\n", oxmeta_warning(i));
    if (rc != OXMETA_OK) std::fprintf(stderr, "oxmeta: %s (%s)\n", oxmeta_last_error(), status_name(rc));
}
