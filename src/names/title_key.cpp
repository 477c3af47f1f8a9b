// Reducing a title to its comparison key, one code point at a time.
#include "names/title_key.h"

#include <cstring>

#include "names/name_text.h"

namespace oxnames {
namespace {

// U+00C0..U+017F folded to ASCII; "" is a separator (the signs × and ÷).
constexpr const char *kLatinFold[0x180 - 0xC0] = {
    "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i", "i",
    "d", "n", "o", "o", "o", "o", "o", "", "o", "u", "u", "u", "u", "y", "th", "ss",
    "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i", "i",
    "d", "n", "o", "o", "o", "o", "o", "", "o", "u", "u", "u", "u", "y", "th", "y",
    "a", "a", "a", "a", "a", "a", "c", "c", "c", "c", "c", "c", "c", "c", "d", "d",
    "d", "d", "e", "e", "e", "e", "e", "e", "e", "e", "e", "e", "g", "g", "g", "g",
    "g", "g", "g", "g", "h", "h", "h", "h", "i", "i", "i", "i", "i", "i", "i", "i",
    "i", "i", "ij", "ij", "j", "j", "k", "k", "k", "l", "l", "l", "l", "l", "l", "l",
    "l", "l", "l", "n", "n", "n", "n", "n", "n", "n", "n", "n", "o", "o", "o", "o",
    "o", "o", "oe", "oe", "r", "r", "r", "r", "r", "r", "s", "s", "s", "s", "s", "s",
    "s", "s", "t", "t", "t", "t", "t", "t", "u", "u", "u", "u", "u", "u", "u", "u",
    "u", "u", "u", "u", "w", "w", "y", "y", "y", "z", "z", "z", "z", "z", "z", "s",
};

// Leading words a title may carry in one spelling and not in another.
constexpr std::string_view kArticles[] = {
    "a",   "an",  "as", "das", "de",  "der", "die", "een", "ein", "eine", "el", "gli",
    "het", "il",  "l",  "la",  "las", "le",  "les", "lo",  "los", "o",    "os", "the",
    "um",  "uma", "un", "una", "une",
};

bool is_article(std::string_view word) {
    for (std::string_view a : kArticles)
        if (a == word) return true;
    return false;
}

// The value of a Roman numeral of i, v and x written the usual way (2 to
// 39; a lone "i" stays a word, as in "I, Robot"), else 0.
int roman_value(std::string_view word) {
    if (word.empty() || word.size() > 6 || word == "i") return 0;
    int value = 0;
    int previous = 0;
    for (size_t k = word.size(); k-- > 0;) {
        const char c = word[k];
        const int digit = c == 'i' ? 1 : c == 'v' ? 5 : c == 'x' ? 10 : 0;
        if (digit == 0) return 0;
        value += digit < previous ? -digit : digit;
        previous = digit > previous ? digit : previous;
    }
    if (value < 1 || value > 39) return 0;
    // Only the canonical spelling counts ("iiii" or "vx" are words).
    static constexpr const char *kOnes[] = {"", "i", "ii", "iii", "iv", "v", "vi", "vii", "viii", "ix"};
    char canonical[8] = {};
    size_t n = 0;
    for (int tens = value / 10; tens > 0; --tens) canonical[n++] = 'x';
    for (const char *p = kOnes[value % 10]; *p; ++p) canonical[n++] = *p;
    return word == std::string_view(canonical, n) ? value : 0;
}

// What a code point contributes to the key. A part break (":", " - ", a
// dash) sets a subtitle apart and begins a part; "(" and "[" only the first.
enum class glyph_kind { letters, joiner, separator, subtitle, part };

struct glyph {
    glyph_kind kind;
    char bytes[4];
    size_t size;
};

glyph letters(std::string_view text) {
    glyph g{glyph_kind::letters, {}, text.size()};
    std::memcpy(g.bytes, text.data(), text.size());
    return g;
}

glyph encode(uint32_t cp) {
    glyph g{glyph_kind::letters, {}, 0};
    if (cp < 0x800) {
        g.bytes[0] = static_cast<char>(0xC0 | cp >> 6);
        g.bytes[1] = static_cast<char>(0x80 | (cp & 0x3F));
        g.size = 2;
    } else if (cp < 0x10000) {
        g.bytes[0] = static_cast<char>(0xE0 | cp >> 12);
        g.bytes[1] = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        g.bytes[2] = static_cast<char>(0x80 | (cp & 0x3F));
        g.size = 3;
    } else {
        g.bytes[0] = static_cast<char>(0xF0 | cp >> 18);
        g.bytes[1] = static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        g.bytes[2] = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        g.bytes[3] = static_cast<char>(0x80 | (cp & 0x3F));
        g.size = 4;
    }
    return g;
}

constexpr glyph kSeparator{glyph_kind::separator, {}, 0};
constexpr glyph kJoiner{glyph_kind::joiner, {}, 0};
constexpr glyph kSubtitle{glyph_kind::subtitle, {}, 0};
constexpr glyph kPart{glyph_kind::part, {}, 0};

glyph classify(uint32_t cp) {
    if (cp < 0x80) {
        const char c = static_cast<char>(cp);
        if (c >= 'A' && c <= 'Z') return letters(std::string_view(&"abcdefghijklmnopqrstuvwxyz"[c - 'A'], 1));
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return letters(std::string_view(&c, 1));
        if (c == '\'' || c == '`') return kJoiner;
        if (c == ':') return kPart;
        if (c == '(' || c == '[') return kSubtitle;
        return kSeparator;
    }
    if (cp >= 0xC0 && cp < 0x180) {
        const char *fold = kLatinFold[cp - 0xC0];
        return *fold ? letters(fold) : kSeparator;
    }
    if (cp == 0x2018 || cp == 0x2019 || cp == 0x02BC) return kJoiner;
    if (cp == 0x2013 || cp == 0x2014) return kPart;
    if (cp < 0xC0 || (cp >= 0x2000 && cp < 0x2070) || (cp >= 0x3000 && cp < 0x3040)) return kSeparator;
    if (cp >= 0xFF01 && cp <= 0xFF5E) {  // full-width ASCII
        const uint32_t ascii = cp - 0xFF01 + 0x21;
        return ascii == '(' ? kSubtitle : classify(ascii);
    }
    if (cp == 0x218 || cp == 0x219) return letters("s");  // Romanian comma below
    if (cp == 0x21A || cp == 0x21B) return letters("t");
    // Capital Greek and Cyrillic letters to small ones.
    if ((cp >= 0x391 && cp <= 0x3A9 && cp != 0x3A2) || (cp >= 0x410 && cp <= 0x42F)) return encode(cp + 0x20);
    if (cp >= 0x400 && cp <= 0x40F) return encode(cp + 0x50);
    return encode(cp);
}

// A sign that a title made only of digits and signs keeps: "#9", "+1", "9½".
bool is_sign(uint32_t cp) {
    if (cp < 0x80) return std::strchr("#+*%$!?@=~^&/<>|", static_cast<int>(cp)) != nullptr && cp != 0;
    return (cp >= 0xA1 && cp <= 0xBF) || cp == 0xD7 || cp == 0xF7 || (cp >= 0x2150 && cp <= 0x218F);
}

// True for a letter of any script; digits and signs are not.
bool is_letter(const glyph &g) {
    if (g.kind != glyph_kind::letters) return false;
    return g.size != 1 || g.bytes[0] < '0' || g.bytes[0] > '9';
}

// Adds one token at the end; nothing once the key is full.
void push_token(title_key *key, std::string_view word) {
    const size_t used = key->start[key->count];
    if (key->count == kTitleKeyTokens || used + word.size() > kTitleKeyBytes) return;
    std::memcpy(key->text + used, word.data(), word.size());
    ++key->count;
    key->start[key->count] = static_cast<uint16_t>(used + word.size());
}

class key_builder {
public:
    explicit key_builder(title_key *key) : key_(key) {
        key_->count = 0;
        key_->main_count = -1;
        key_->start[0] = 0;
        key_->part_count = 0;
        key_->brand_count = 0;
    }

    void add(const glyph &g) {
        if (g.kind == glyph_kind::joiner) {
            joiner_at_ = word_size_;
            return;
        }
        if (g.kind != glyph_kind::letters) {
            end_token();
            if (g.kind == glyph_kind::subtitle || g.kind == glyph_kind::part) mark_subtitle();
            if (g.kind == glyph_kind::part) mark_part();
            return;
        }
        if (word_size_ + g.size > sizeof word_) return;  // an overlong word is cut
        std::memcpy(word_ + word_size_, g.bytes, g.size);
        word_size_ += g.size;
    }

    // " - " with spaces around the hyphen sets a subtitle apart too.
    void mark_subtitle() {
        if (key_->main_count < 0 && key_->count > 0) key_->main_count = key_->count;
    }

    // A part begins where the next token will be; a break at the end, or
    // right after another, begins none.
    void mark_part() {
        const int at = key_->count;
        if (at == 0 || key_->part_count == kTitleKeyParts) return;
        if (key_->part_count > 0 && key_->part_start[key_->part_count - 1] == at) return;
        key_->part_start[key_->part_count++] = at;
    }

    void finish() {
        end_token();
        if (key_->main_count < 0) key_->main_count = key_->count;
        while (key_->part_count > 0 && key_->part_start[key_->part_count - 1] >= key_->count) --key_->part_count;
        // A brand in front: a possessive first or second word with more after it.
        if (possessive_ >= 0 && possessive_ + 1 < key_->main_count && !is_article(key_->token(0)))
            key_->brand_count = possessive_ + 1;
        // A leading article goes, unless it is the whole title.
        if (key_->count > 1 && key_->main_count > 1 && is_article(key_->token(0))) {
            const uint16_t cut = key_->start[1];
            const size_t bytes = key_->start[key_->count] - cut;
            std::memmove(key_->text, key_->text + cut, bytes);
            for (int t = 0; t < key_->count; ++t) key_->start[t] = static_cast<uint16_t>(key_->start[t + 1] - cut);
            --key_->count;
            --key_->main_count;
            for (int p = 0; p < key_->part_count; ++p) --key_->part_start[p];
        }
    }

    void end_token() {
        std::string_view word(word_, word_size_);
        const size_t joiner_at = joiner_at_;
        word_size_ = 0;
        joiner_at_ = kNoJoiner;
        if (word.empty() || word == "and") return;
        // "Clancy's" or "Seuss'": an apostrophe before or after a final s.
        const bool possessive = word.size() >= 2 && word.back() == 's' &&
                                (joiner_at == word.size() - 1 || joiner_at == word.size());
        if (possessive && possessive_ < 0 && key_->count < 2) possessive_ = key_->count;
        char digits[3];
        if (const int value = roman_value(word)) {
            size_t n = 0;
            if (value >= 10) digits[n++] = static_cast<char>('0' + value / 10);
            digits[n++] = static_cast<char>('0' + value % 10);
            word = std::string_view(digits, n);
        }
        push_token(key_, word);
    }

private:
    static constexpr size_t kNoJoiner = static_cast<size_t>(-1);

    title_key *key_;
    char word_[64];
    size_t word_size_ = 0;
    size_t joiner_at_ = kNoJoiner;  // where in the word an apostrophe was
    int possessive_ = -1;           // the first possessive token, among the first two
};

// The code point of the UTF-8 sequence of n bytes at p.
uint32_t code_point(const unsigned char *p, size_t n) {
    uint32_t cp = n == 1 ? p[0] : n == 2 ? p[0] & 0x1Fu : n == 3 ? p[0] & 0x0Fu : p[0] & 0x07u;
    for (size_t k = 1; k < n; ++k) cp = cp << 6 | (p[k] & 0x3Fu);
    return cp;
}

// One pass over the title; with keep_signs, signs are letters. Returns
// whether the title had a letter of any script.
bool build_key(std::string_view title, title_key *out, bool keep_signs) {
    key_builder b(out);
    bool any_letter = false;
    size_t at = 0;
    bool space_before = false;
    while (at < title.size()) {
        const size_t n = utf8_sequence(title, at);
        if (n == 0) {  // an invalid byte parts words
            b.add(kSeparator);
            ++at;
            space_before = false;
            continue;
        }
        const uint32_t cp = code_point(reinterpret_cast<const unsigned char *>(title.data() + at), n);
        if (cp == '-' && space_before && at + 1 < title.size() && title[at + 1] == ' ') {
            b.add(kPart);
        } else if (keep_signs && is_sign(cp)) {
            b.add(letters(title.substr(at, n)));
        } else {
            const glyph g = classify(cp);
            any_letter = any_letter || is_letter(g);
            b.add(g);
        }
        space_before = cp == ' ';
        at += n;
    }
    b.finish();
    return any_letter;
}

}  // namespace

void title_key_make(std::string_view title, title_key *out) {
    // A title without a letter is made again, its signs kept ("#9", "+1").
    if (!build_key(title, out, false)) build_key(title, out, true);
}

bool title_key_is_article(std::string_view word) { return is_article(word); }

void title_key_append(title_key *key, std::string_view word) {
    title_key extra;
    title_key_make(word, &extra);
    for (int t = 0; t < extra.count; ++t) push_token(key, extra.token(t));
    key->main_count = key->count;
    key->part_count = 0;
    key->brand_count = 0;
}

}  // namespace oxnames
