// The words and phrases release names are tagged with, and what each one
// means: constexpr tables sorted by their lower-case text, searched with a
// binary search (no allocation, no regular expression).
#pragma once

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace oxnames {

// Which field a tag fills.
enum class field : uint8_t {
    screen_size,
    source,
    video_codec,
    audio_codec,
    audio_channels,
    hdr,
    edition,
    language,
    subtitles,  // a word that means "subtitles" ("subs", "subbed"), or a language's subtitles ("vostfr")
    proper,
    repack,
    extra,      // sample, trailer
    pack,       // "integrale": a show's every season
    other,      // a tag that fills no field (10bit, AMZN, INTERNAL ...)
};

struct word {
    std::string_view text;   // lower case; words of a phrase joined by one space
    field what;
    std::string_view value;  // the normalised value ("Blu-ray"), a language code ("fr")
    bool weak;               // also an everyday word: a tag only after the title has ended
};

// clang-format off
inline constexpr word kWords[] = {
    {"10-bit", field::other, "", false},
    {"1080i", field::screen_size, "1080i", false},
    {"1080p", field::screen_size, "1080p", false},
    {"10bit", field::other, "", false},
    {"10bits", field::other, "", false},
    {"1280x720", field::screen_size, "720p", false},
    {"12bit", field::other, "", false},
    {"1440p", field::screen_size, "1440p", false},
    {"1920x1080", field::screen_size, "1080p", false},
    {"2160p", field::screen_size, "2160p", false},
    {"2ch", field::audio_channels, "2.0", false},
    {"360p", field::screen_size, "360p", false},
    {"3840x2160", field::screen_size, "2160p", false},
    {"3d", field::other, "", true},
    {"4320p", field::screen_size, "4320p", false},
    {"480i", field::screen_size, "480i", false},
    {"480p", field::screen_size, "480p", false},
    {"4k", field::screen_size, "2160p", false},
    {"540p", field::screen_size, "540p", false},
    {"576i", field::screen_size, "576i", false},
    {"576p", field::screen_size, "576p", false},
    {"60fps", field::other, "", false},
    {"6ch", field::audio_channels, "5.1", false},
    {"720p", field::screen_size, "720p", false},
    {"8bit", field::other, "", false},
    {"8bits", field::other, "", false},
    {"8ch", field::audio_channels, "7.1", false},
    {"8k", field::screen_size, "4320p", false},
    {"aac", field::audio_codec, "AAC", false},
    {"aac-lc", field::audio_codec, "AAC", false},
    {"ac-3", field::audio_codec, "Dolby Digital", false},
    {"ac3", field::audio_codec, "Dolby Digital", false},
    {"ac3d", field::audio_codec, "Dolby Digital", false},
    {"alternate cut", field::edition, "Alternate Cut", true},
    {"amzn", field::other, "", false},
    {"anniversary edition", field::edition, "Anniversary Edition", true},
    {"ara", field::language, "ar", true},
    {"arabic", field::language, "ar", true},
    {"atmos", field::audio_codec, "Dolby Atmos", false},
    {"atvp", field::other, "", false},
    {"av1", field::video_codec, "AV1", false},
    {"avc", field::video_codec, "H.264", false},
    {"bd", field::source, "Blu-ray", true},
    {"bd-rip", field::source, "Blu-ray", false},
    {"bd25", field::source, "Blu-ray", false},
    {"bd50", field::source, "Blu-ray", false},
    {"bdmux", field::source, "Blu-ray", false},
    {"bdremux", field::source, "Blu-ray", false},
    {"bdrip", field::source, "Blu-ray", false},
    {"bdscr", field::source, "Screener", false},
    {"blu-ray", field::source, "Blu-ray", false},
    {"bluray", field::source, "Blu-ray", false},
    {"bluray-rip", field::source, "Blu-ray", false},
    {"brazilian", field::language, "pt", true},
    {"brmux", field::source, "Blu-ray", false},
    {"brrip", field::source, "Blu-ray", false},
    {"cam", field::source, "Camera", true},
    {"camrip", field::source, "Camera", false},
    {"cantonese", field::language, "zh", true},
    {"castellano", field::language, "es", true},
    {"chi", field::language, "zh", true},
    {"chinese", field::language, "zh", true},
    {"chs", field::language, "zh", true},
    {"cht", field::language, "zh", true},
    {"collector's", field::edition, "Collector's Edition", true},
    {"collector's edition", field::edition, "Collector's Edition", true},
    {"collectors", field::edition, "Collector's Edition", true},
    {"collectors edition", field::edition, "Collector's Edition", true},
    {"complete", field::other, "", true},
    {"convert", field::other, "", true},
    {"crav", field::other, "", false},
    {"criterion", field::edition, "Criterion", true},
    {"criterion collection", field::edition, "Criterion", true},
    {"cz", field::language, "cs", true},
    {"cze", field::language, "cs", true},
    {"czech", field::language, "cs", true},
    {"dan", field::language, "da", true},
    {"danish", field::language, "da", true},
    {"dc", field::edition, "Director's Cut", true},
    {"dd", field::audio_codec, "Dolby Digital", false},
    {"dd+", field::audio_codec, "Dolby Digital Plus", false},
    {"ddp", field::audio_codec, "Dolby Digital Plus", false},
    {"definitive edition", field::edition, "Definitive Edition", true},
    {"deu", field::language, "de", true},
    {"deutsch", field::language, "de", true},
    {"diamond edition", field::edition, "Diamond Edition", true},
    {"director's cut", field::edition, "Director's Cut", true},
    {"directors cut", field::edition, "Director's Cut", true},
    {"dirfix", field::other, "", false},
    {"divx", field::video_codec, "DivX", false},
    {"dk", field::language, "da", true},
    {"dksub", field::subtitles, "da", false},
    {"dl", field::other, "", true},
    {"dlmux", field::source, "Web", false},
    {"docu", field::other, "", true},
    {"doku", field::other, "", true},
    {"dolby vision", field::hdr, "Dolby Vision", false},
    {"dovi", field::hdr, "Dolby Vision", false},
    {"dsnp", field::other, "", false},
    {"dsr", field::source, "TV", false},
    {"dsrip", field::source, "TV", false},
    {"dts", field::audio_codec, "DTS", false},
    {"dts-es", field::audio_codec, "DTS", false},
    {"dts-hd", field::audio_codec, "DTS-HD", false},
    {"dts-hd ma", field::audio_codec, "DTS-HD MA", false},
    {"dts-hr", field::audio_codec, "DTS-HD", false},
    {"dts-ma", field::audio_codec, "DTS-HD MA", false},
    {"dts-x", field::audio_codec, "DTS:X", false},
    {"dtshd", field::audio_codec, "DTS-HD", false},
    {"dtsma", field::audio_codec, "DTS-HD MA", false},
    {"dtsx", field::audio_codec, "DTS:X", false},
    {"dual", field::other, "", true},
    {"dual audio", field::other, "", true},
    {"dual-audio", field::other, "", false},
    {"dubbed", field::other, "", true},
    {"dubbing", field::other, "", true},
    {"dublado", field::other, "", true},
    {"dublaj", field::other, "", true},
    {"dut", field::language, "nl", true},
    {"dutch", field::language, "nl", true},
    {"dv", field::hdr, "Dolby Vision", true},
    {"dvbrip", field::source, "TV", false},
    {"dvd", field::source, "DVD", false},
    {"dvd-r", field::source, "DVD", false},
    {"dvd-rip", field::source, "DVD", false},
    {"dvd5", field::source, "DVD", false},
    {"dvd9", field::source, "DVD", false},
    {"dvdmux", field::source, "DVD", false},
    {"dvdr", field::source, "DVD", false},
    {"dvdrip", field::source, "DVD", false},
    {"dvdscr", field::source, "Screener", false},
    {"dvdscreener", field::source, "Screener", false},
    {"e-ac-3", field::audio_codec, "Dolby Digital Plus", false},
    {"eac3", field::audio_codec, "Dolby Digital Plus", false},
    {"eng", field::language, "en", true},
    {"english", field::language, "en", true},
    {"esp", field::language, "es", true},
    {"espanol", field::language, "es", true},
    {"espa\xC3\xB1ol", field::language, "es", true},
    {"esub", field::subtitles, "en", false},
    {"esubs", field::subtitles, "en", false},
    {"extended", field::edition, "Extended", true},
    {"extended cut", field::edition, "Extended", true},
    {"extended edition", field::edition, "Extended", true},
    {"fan edit", field::edition, "Fan Edit", true},
    {"fansub", field::other, "", true},
    {"festival", field::other, "", true},
    {"fin", field::language, "fi", true},
    {"final cut", field::edition, "Final Cut", true},
    {"finnish", field::language, "fi", true},
    {"flac", field::audio_codec, "FLAC", false},
    {"flemish", field::language, "nl", true},
    {"fra", field::language, "fr", true},
    {"fre", field::language, "fr", true},
    {"french", field::language, "fr", true},
    {"fs", field::other, "", true},
    {"funi", field::other, "", false},
    {"ger", field::language, "de", true},
    {"german", field::language, "de", true},
    {"gre", field::language, "el", true},
    {"greek", field::language, "el", true},
    {"h-ou", field::other, "", false},
    {"h-sbs", field::other, "", false},
    {"h264", field::video_codec, "H.264", false},
    {"h265", field::video_codec, "H.265", false},
    {"half-ou", field::other, "", false},
    {"half-sbs", field::other, "", false},
    {"hardcoded", field::other, "", true},
    {"hardsub", field::other, "", false},
    {"hardsubs", field::other, "", false},
    {"hc", field::other, "", true},
    {"hd-cam", field::source, "Camera", false},
    {"hd-dvd", field::source, "HD-DVD", false},
    {"hd-ts", field::source, "Telesync", false},
    {"hdcam", field::source, "Camera", false},
    {"hddvd", field::source, "HD-DVD", false},
    {"hdlight", field::other, "", false},
    {"hdr", field::hdr, "HDR", false},
    {"hdr10", field::hdr, "HDR10", false},
    {"hdr10+", field::hdr, "HDR10+", false},
    {"hdr10plus", field::hdr, "HDR10+", false},
    {"hdrip", field::source, "HDRip", false},
    {"hdtc", field::source, "Telecine", false},
    {"hdts", field::source, "Telesync", false},
    {"hdtv", field::source, "HDTV", false},
    {"hdtv-rip", field::source, "HDTV", false},
    {"hdtvrip", field::source, "HDTV", false},
    {"he-aac", field::audio_codec, "AAC", false},
    {"heb", field::language, "he", true},
    {"hebrew", field::language, "he", true},
    {"hevc", field::video_codec, "H.265", false},
    {"hfr", field::other, "", false},
    {"hi10", field::other, "", false},
    {"hi10p", field::other, "", false},
    {"hi444pp", field::other, "", false},
    {"hin", field::language, "hi", true},
    {"hindi", field::language, "hi", true},
    {"hlg", field::hdr, "HLG", false},
    {"hmax", field::other, "", false},
    {"hou", field::other, "", false},
    {"hsbs", field::other, "", false},
    {"hulu", field::other, "", false},
    {"hun", field::language, "hu", true},
    {"hungarian", field::language, "hu", true},
    {"hybrid", field::other, "", true},
    {"ice", field::language, "is", true},
    {"icelandic", field::language, "is", true},
    {"imax", field::edition, "IMAX", true},
    {"imax edition", field::edition, "IMAX", true},
    {"indonesian", field::language, "id", true},
    {"integrale", field::pack, "", true},
    {"internal", field::other, "", true},
    {"international cut", field::edition, "International Cut", true},
    {"int\xC3\xA9grale", field::pack, "", true},
    {"iplayer", field::other, "", false},
    {"ita", field::language, "it", true},
    {"italian", field::language, "it", true},
    {"italiano", field::language, "it", true},
    {"jap", field::language, "ja", true},
    {"japanese", field::language, "ja", true},
    {"jpn", field::language, "ja", true},
    {"kor", field::language, "ko", true},
    {"korean", field::language, "ko", true},
    {"laserdisc", field::source, "LaserDisc", true},
    {"lat", field::language, "es", true},
    {"latino", field::language, "es", true},
    {"ld", field::other, "", true},
    {"ldrip", field::source, "LaserDisc", false},
    {"legendado", field::subtitles, "", true},
    {"lektor", field::other, "", true},
    {"limited", field::other, "", true},
    {"limited edition", field::edition, "Limited Edition", true},
    {"lpcm", field::audio_codec, "PCM", false},
    {"malayalam", field::language, "ml", true},
    {"mandarin", field::language, "zh", true},
    {"md", field::other, "", true},
    {"mp2", field::audio_codec, "MP2", false},
    {"mp3", field::audio_codec, "MP3", false},
    {"mpeg-2", field::video_codec, "MPEG-2", false},
    {"mpeg2", field::video_codec, "MPEG-2", false},
    {"mpeg4", field::video_codec, "MPEG-4", false},
    {"mubi", field::other, "", true},
    {"multi", field::other, "", true},
    {"multi-sub", field::other, "", false},
    {"multi-subs", field::other, "", false},
    {"multisub", field::other, "", false},
    {"multisubs", field::other, "", false},
    {"napisy", field::subtitles, "", true},
    {"nf", field::other, "", true},
    {"nfofix", field::other, "", false},
    {"nl", field::language, "nl", true},
    {"nlsub", field::subtitles, "nl", false},
    {"nlsubs", field::subtitles, "nl", false},
    {"nor", field::language, "no", true},
    {"nordic", field::other, "", true},
    {"norwegian", field::language, "no", true},
    {"ntsc", field::source, "DVD", true},
    {"oar", field::other, "", false},
    {"open matte", field::edition, "Open Matte", true},
    {"opus", field::audio_codec, "Opus", false},
    {"pal", field::source, "DVD", true},
    {"pcm", field::audio_codec, "PCM", false},
    {"pcok", field::other, "", false},
    {"pdtv", field::source, "TV", false},
    {"pdvd", field::source, "Screener", false},
    {"pl", field::language, "pl", true},
    {"platinum edition", field::edition, "Platinum Edition", true},
    {"pldub", field::other, "", false},
    {"pmtp", field::other, "", false},
    {"pol", field::language, "pl", true},
    {"polish", field::language, "pl", true},
    {"por", field::language, "pt", true},
    {"portuguese", field::language, "pt", true},
    {"ppv", field::source, "Pay-per-view", false},
    {"ppvrip", field::source, "Pay-per-view", false},
    {"predvd", field::source, "Screener", false},
    {"prooffix", field::other, "", false},
    {"proper", field::proper, "", true},
    {"pt-br", field::language, "pt", false},
    {"ptbr", field::language, "pt", false},
    {"r5", field::source, "DVD", false},
    {"r6", field::source, "DVD", false},
    {"read nfo", field::other, "", true},
    {"readnfo", field::other, "", false},
    {"real", field::other, "", true},
    {"remastered", field::edition, "Remastered", true},
    {"remux", field::source, "Blu-ray", false},
    {"repack", field::repack, "", false},
    {"req", field::other, "", false},
    {"rerip", field::repack, "", false},
    {"restored", field::edition, "Restored", true},
    {"retail", field::other, "", true},
    {"rip", field::other, "", true},
    {"rogue cut", field::edition, "Rogue Cut", true},
    {"rom", field::language, "ro", true},
    {"romanian", field::language, "ro", true},
    {"rus", field::language, "ru", true},
    {"russian", field::language, "ru", true},
    {"sample", field::extra, "", true},
    {"samplefix", field::other, "", false},
    {"satrip", field::source, "TV", false},
    {"sbs", field::other, "", true},
    {"scr", field::source, "Screener", true},
    {"screener", field::source, "Screener", true},
    {"sdtv", field::source, "TV", false},
    {"se", field::edition, "Special Edition", true},
    {"spa", field::language, "es", true},
    {"spanish", field::language, "es", true},
    {"special edition", field::edition, "Special Edition", true},
    {"stan", field::other, "", true},
    {"stv", field::other, "", false},
    {"sub", field::subtitles, "", true},
    {"sub ita", field::subtitles, "it", false},
    {"subbed", field::subtitles, "", true},
    {"subesp", field::subtitles, "es", false},
    {"subfix", field::other, "", false},
    {"subfrench", field::subtitles, "fr", false},
    {"subita", field::subtitles, "it", false},
    {"subs", field::subtitles, "", true},
    {"swe", field::language, "sv", true},
    {"swedish", field::language, "sv", true},
    {"swesub", field::subtitles, "sv", false},
    {"syncfix", field::other, "", false},
    {"tamil", field::language, "ta", true},
    {"tc", field::source, "Telecine", true},
    {"telecine", field::source, "Telecine", true},
    {"telesync", field::source, "Telesync", true},
    {"telugu", field::language, "te", true},
    {"thai", field::language, "th", true},
    {"theatrical", field::edition, "Theatrical", true},
    {"theatrical cut", field::edition, "Theatrical", true},
    {"trailer", field::extra, "", true},
    {"truefrench", field::language, "fr", false},
    {"truehd", field::audio_codec, "Dolby TrueHD", false},
    {"ts", field::source, "Telesync", true},
    {"tur", field::language, "tr", true},
    {"turkce", field::language, "tr", true},
    {"turkish", field::language, "tr", true},
    {"tvrip", field::source, "TV", false},
    {"t\303\274rk\303\247e", field::language, "tr", true},
    {"uhd", field::screen_size, "2160p", true},
    {"uhdrip", field::source, "Blu-ray", false},
    {"ukr", field::language, "uk", true},
    {"ukrainian", field::language, "uk", true},
    {"ultimate", field::edition, "Ultimate", true},
    {"ultimate cut", field::edition, "Ultimate", true},
    {"ultimate edition", field::edition, "Ultimate", true},
    {"uncensored", field::edition, "Uncensored", true},
    {"uncut", field::edition, "Uncut", true},
    {"unrated", field::edition, "Unrated", true},
    {"vc-1", field::video_codec, "VC-1", false},
    {"vc1", field::video_codec, "VC-1", false},
    {"vf", field::language, "fr", true},
    {"vf2", field::language, "fr", false},
    {"vff", field::language, "fr", false},
    {"vfi", field::language, "fr", false},
    {"vfq", field::language, "fr", false},
    {"vhs", field::source, "VHS", true},
    {"vhs-rip", field::source, "VHS", false},
    {"vhsrip", field::source, "VHS", false},
    {"vie", field::language, "vi", true},
    {"vietnamese", field::language, "vi", true},
    {"vlaams", field::language, "nl", true},
    {"vodrip", field::source, "Web", false},
    {"vorbis", field::audio_codec, "Vorbis", false},
    {"vose", field::subtitles, "es", false},
    {"vost", field::subtitles, "", false},
    {"vostfr", field::subtitles, "fr", false},
    {"vp9", field::video_codec, "VP9", false},
    {"web", field::source, "Web", true},
    {"web dl", field::source, "Web", false},
    {"web-dl", field::source, "Web", false},
    {"web-hd", field::source, "Web", false},
    {"web-rip", field::source, "Web", false},
    {"webdl", field::source, "Web", false},
    {"webhd", field::source, "Web", false},
    {"webmux", field::source, "Web", false},
    {"webrip", field::source, "Web", false},
    {"webscr", field::source, "Screener", false},
    {"workprint", field::source, "Workprint", true},
    {"ws", field::other, "", true},
    {"x264", field::video_codec, "H.264", false},
    {"x265", field::video_codec, "H.265", false},
    {"xvid", field::video_codec, "Xvid", false},
};
// clang-format on

constexpr bool sorted_and_unique() {
    for (size_t i = 1; i < std::size(kWords); ++i)
        if (!(kWords[i - 1].text < kWords[i].text) || kWords[i].text.size() >= 32) return false;
    return true;
}
static_assert(sorted_and_unique(), "kWords must be sorted by text, each text once, each shorter than 32 bytes");


// The lengths of the words of each first byte: bit n of at[b] is set when a
// word of n bytes starts with byte b (n < 32). A quick "no" before a search.
struct length_index {
    uint32_t at[256];
};
constexpr length_index make_length_index() {
    length_index index{};
    for (const word &w : kWords)
        if (w.text.size() < 32) index.at[static_cast<unsigned char>(w.text[0])] |= uint32_t{1} << w.text.size();
    return index;
}
inline constexpr length_index kLengths = make_length_index();

// -1, 0 or 1 as a is before, equal to or after b, byte by byte: words are
// short, and a loop here beats a call to memcmp.
constexpr int compare_short(std::string_view a, std::string_view b) {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]) ? -1 : 1;
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

// A hash of a word's length and three of its bytes: enough to tell the
// table's words apart in few probes.
constexpr uint32_t word_hash(std::string_view t) {
    const auto at = [&](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(t[i])); };
    const uint32_t h = static_cast<uint32_t>(t.size()) * 0x9E3779B1u ^ at(0) * 0x85EBCA77u ^
                       at(t.size() / 2) * 0xC2B2AE3Du ^ at(t.size() - 1) * 0x27D4EB2Fu;
    return h ^ (h >> 15);
}

// kWords by hash: open addressing, each slot 1 + an index into kWords, or 0.
inline constexpr size_t kWordSlots = 2048;
struct word_table {
    uint16_t slot[kWordSlots];
};
constexpr word_table make_word_table() {
    word_table table{};
    for (size_t w = 0; w < std::size(kWords); ++w) {
        size_t at = word_hash(kWords[w].text) & (kWordSlots - 1);
        while (table.slot[at]) at = (at + 1) & (kWordSlots - 1);
        table.slot[at] = static_cast<uint16_t>(w + 1);
    }
    return table;
}
inline constexpr word_table kWordTable = make_word_table();
static_assert(std::size(kWords) * 3 < kWordSlots, "the word table stays sparse");

// The entry for a lower-case text, or null.
inline const word *find_word(std::string_view lower) {
    if (lower.empty() || lower.size() >= 32) return nullptr;
    if (!(kLengths.at[static_cast<unsigned char>(lower[0])] >> lower.size() & 1)) return nullptr;
    for (size_t at = word_hash(lower) & (kWordSlots - 1); kWordTable.slot[at]; at = (at + 1) & (kWordSlots - 1)) {
        const word &w = kWords[kWordTable.slot[at] - 1];
        if (w.text.size() == lower.size() && compare_short(w.text, lower) == 0) return &w;
    }
    return nullptr;
}

template <size_t N>
constexpr bool one_of(std::string_view text, const std::string_view (&list)[N]) {
    for (std::string_view item : list)
        if (item.size() == text.size() && compare_short(item, text) == 0) return true;
    return false;
}

// A small set of words: a quick "no" from the first byte and the length,
// then a comparison with the few words left.
template <size_t N>
struct word_set {
    std::string_view words[N];
    uint32_t lengths[256];  // bit n of lengths[b]: a word of n bytes starts with byte b
    // The set's own copy of text, or "" when text is not in the set.
    std::string_view find(std::string_view text) const {
        if (text.empty() || text.size() >= 32 || !(lengths[static_cast<unsigned char>(text[0])] >> text.size() & 1))
            return {};
        for (std::string_view w : words)
            if (w.size() == text.size() && compare_short(w, text) == 0) return w;
        return {};
    }
    bool has(std::string_view text) const { return !find(text).empty(); }
    bool may_start(char first) const { return lengths[static_cast<unsigned char>(first)] != 0; }
};
template <size_t N>
constexpr word_set<N> make_word_set(const std::string_view (&list)[N]) {
    word_set<N> set{};
    for (size_t i = 0; i < N; ++i) {
        set.words[i] = list[i];
        set.lengths[static_cast<unsigned char>(list[i][0])] |= uint32_t{1} << list[i].size();
    }
    return set;
}

// Folder names that say nothing of what a file is.
inline constexpr std::string_view kGenericFoldersList[] = {
    "4k", "anime", "complete", "documentaries", "download", "downloads", "film", "films", "incoming", "kids",
    "library", "media", "movie", "movies", "new folder", "series", "shows", "torrents", "tv", "tv series",
    "tv shows", "tvshows", "video", "videos",
};
inline constexpr auto kGenericFolders = make_word_set(kGenericFoldersList);

// Folders of a release's subtitles: left out, the release above names the file.
inline constexpr std::string_view kSubtitleFoldersList[] = {"sub", "subs", "subtitles"};
inline constexpr auto kSubtitleFolders = make_word_set(kSubtitleFoldersList);

// Folders of extras, as media servers name them.
inline constexpr std::string_view kExtraFoldersList[] = {
    "behind the scenes", "deleted scenes", "extras", "featurettes", "interviews", "other", "sample", "samples",
    "scenes", "shorts", "trailers",
};
inline constexpr auto kExtraFolders = make_word_set(kExtraFoldersList);

// File-name suffixes of extras ("Movie-trailer.mkv").
inline constexpr std::string_view kExtraSuffixesList[] = {
    "-behindthescenes", "-deleted", "-featurette", "-interview", "-other", "-sample", "-scene", "-short", "-trailer",
};
inline constexpr auto kExtraSuffixes = make_word_set(kExtraSuffixesList);

// Extensions of video files (and of the subtitles that go beside them).
inline constexpr std::string_view kContainersList[] = {
    "3gp", "ass", "asf", "avi", "bdmv", "bup", "clpi", "divx", "evo", "flv", "idx", "ifo", "iso", "m2ts", "m4v",
    "mk3d", "mkv", "mov", "mp4", "mpeg", "mpg", "mpls", "mts", "nfo", "ogm", "ogv", "rm", "rmvb", "srt", "ssa",
    "sub", "ts", "vob", "webm", "wmv", "wtv",
};
inline constexpr auto kContainers = make_word_set(kContainersList);

// Words that name a season ("Season 2", "Staffel 2", "Sezon 2"), in ASCII
// lower case (letters beyond ASCII as written).
inline constexpr std::string_view kSeasonWordsList[] = {
    "kausi", "saison", "saisons", "season", "seasons", "series", "sesong", "seizoen", "sezon", "sezona",
    "staffel", "staffeln", "stagione", "stagioni", "temp", "temporada", "temporadas", "s\xC3\xA4song",
    "s\xC3\xA6son", "\xD1\x81\xD0\xB5\xD0\xB7\xD0\xBE\xD0\xBD", "\xD0\xA1\xD0\xB5\xD0\xB7\xD0\xBE\xD0\xBD",
};
inline constexpr auto kSeasonWords = make_word_set(kSeasonWordsList);

// Words that name an episode ("Episode 5", "Folge 5", "Cap.205").
inline constexpr std::string_view kEpisodeWordsList[] = {
    "afl", "aflevering", "afsnit", "avsnitt", "b\xC3\xB6l\xC3\xBCm", "cap", "capitulo", "cap\xC3\xADtulo", "ep",
    "episode", "episodes", "episodi", "episodio", "epis\303\263dio", "episodios", "eps", "epizod", "epizoda", "folge",
    "jakso", "odc", "odcinek",
    "\xC3\x89pisode", "\xC3\xA9pisode", "\xD1\x81\xD0\xB5\xD1\x80\xD0\xB8\xD1\x8F",
    "\xD0\xA1\xD0\xB5\xD1\x80\xD0\xB8\xD1\x8F",
};
inline constexpr auto kEpisodeWords = make_word_set(kEpisodeWordsList);



// The last part of a site's address ("[ site.com ]").
inline constexpr std::string_view kSiteEndingsList[] = {"cc", "club", "com", "info", "io", "me", "mx", "net", "nu",
                                                        "org", "ru", "se", "to", "tv", "xyz"};
inline constexpr auto kSiteEndings = make_word_set(kSiteEndingsList);

// Country codes written after a show's title ("The Office (US)").
inline constexpr std::string_view kCountriesList[] = {"AU", "CA", "GB", "IE", "NZ", "UK", "US"};
inline constexpr auto kCountries = make_word_set(kCountriesList);


}  // namespace oxnames
