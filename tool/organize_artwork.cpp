// The images of --artwork: their paths in the library, and their bytes
// fetched and checked before they are written.
#include "organize_artwork.h"

#include <cstdio>

#include "oxmeta.h"

namespace {

std::string folder_of(const std::string &path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// The address of a TMDb image path at its original size ("" for none).
std::string image_address(const std::string &path) {
    return path.empty() ? "" : std::string(oxmeta_tmdb_image_url(path.c_str(), "original"));
}

}  // namespace

std::vector<plan_write> plan_artwork_files(const organize_plan &plan, const std::vector<match_outcome> &outcomes,
                                           const nfo_lookups &lookups, const std::string &library, size_t &failed) {
    return plan_files_beside(
        plan, outcomes, lookups, library, "artwork", failed,
        [&library](const nfo_documents &docs, const std::string &video, const std::string &show_folder,
                   const write_adder &add) {
            const std::string poster = image_address(docs.poster);
            if (docs.show.empty()) {
                // A film's folder of its own: never the library itself,
                // which a template may put films in side by side.
                const std::string folder = folder_of(video);
                if (folder == library || folder.size() <= library.size()) return;
                if (!poster.empty()) add(folder + "/poster.jpg", video, "poster", poster, true);
                const std::string fanart = image_address(docs.backdrop);
                if (!fanart.empty()) add(folder + "/fanart.jpg", video, "fanart", fanart, true);
                return;
            }
            if (show_folder.empty() || poster.empty()) return;
            add(show_folder + "/poster.jpg", show_folder, "poster", poster, true);
            add(show_folder + "/folder.jpg", show_folder, "folder", poster, true);
        });
}

bool looks_like_image(const std::string &bytes) {
    static const char jpeg[] = "\xFF\xD8\xFF";
    static const char png[] = "\x89PNG\r\n\x1A\n";
    return bytes.compare(0, 3, jpeg, 3) == 0 || bytes.compare(0, 8, png, 8) == 0;
}

decltype(journal_hooks::fetch) image_fetcher(transport_chain &chain) {
    return [&chain](const plan_write &file, std::string &bytes, std::string &why, bool &skip) {
        long status = 0;
        std::string error;
        const fetch_outcome got = fetch_bytes(chain, file.text, bytes, status, error);
        skip = got == fetch_outcome::not_recorded;
        if (got != fetch_outcome::fetched) {
            why = std::string("not fetched: ").append(error);
        } else if (status != 200 || bytes.empty()) {
            why = std::string("not fetched: HTTP ").append(std::to_string(status)).append(bytes.empty() ? " with no body" : "");
        } else if (!looks_like_image(bytes)) {
            why = "refused: the reply is not a JPEG or PNG image";
        }
        if (!why.empty()) bytes.clear();
        return why.empty();
    };
}
