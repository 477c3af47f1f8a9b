// One fuzz input is one path, given to oxmeta_parse_name as it is (cut at
// its first NUL). Every text field must come back NUL-terminated inside its
// field, valid UTF-8 and free of control characters, and every number in
// its range; anything else aborts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "oxmeta.h"

namespace {

void require(bool ok) {
    if (!ok) std::abort();
}

void require_clean(const char *text, size_t capacity) {
    const size_t n = strnlen(text, capacity);
    require(n < capacity);
    for (size_t i = 0; i < n;) {
        const auto c = static_cast<unsigned char>(text[i]);
        require(c >= 0x20 && c != 0x7F);
        const size_t len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        require(len > 0 && c <= 0xF4 && i + len <= n);
        for (size_t k = 1; k < len; ++k) require((static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80);
        i += len;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string path(reinterpret_cast<const char *>(data), size);
    oxmeta_name n;
    std::memset(&n, 0xA5, sizeof n);
    n.size = sizeof n;
    require(oxmeta_parse_name(path.c_str(), &n) == OXMETA_OK);
    require(n.size == sizeof n);
    const char *texts[] = {n.kind,        n.title,      n.date,          n.episode_title, n.country,
                           n.screen_size, n.source,     n.video_codec,   n.audio_codec,   n.audio_channels,
                           n.hdr,         n.edition,    n.release_group, n.container,     n.languages,
                           n.subtitles};
    const size_t sizes[] = {sizeof n.kind,        sizeof n.title,      sizeof n.date,          sizeof n.episode_title,
                            sizeof n.country,     sizeof n.screen_size, sizeof n.source,       sizeof n.video_codec,
                            sizeof n.audio_codec, sizeof n.audio_channels, sizeof n.hdr,       sizeof n.edition,
                            sizeof n.release_group, sizeof n.container, sizeof n.languages,    sizeof n.subtitles};
    for (size_t i = 0; i < sizeof texts / sizeof texts[0]; ++i) require_clean(texts[i], sizes[i]);
    require(std::strcmp(n.kind, "movie") == 0 || std::strcmp(n.kind, "episode") == 0);
    require(n.episode_count >= 0 && n.episode_count <= OXMETA_NAME_EPISODES);
    require(n.is_extra == 0 || n.is_extra == 1);
    require(n.proper >= 0 && n.repack >= 0);
    require(n.year == -1 || (n.year >= 1000 && n.year <= 9999));
    require(n.date[0] == 0 || std::strlen(n.date) == 10);
    return 0;
}
