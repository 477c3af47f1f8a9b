// A title reduced to what two spellings of it share: lower case, accents
// and punctuation gone, "&"/"and" and a leading article dropped, Roman
// numerals as digits. "The Lord of the Rings: The Two Towers" and
// "lord.of.the.rings.the.two.towers" give the same tokens. A title made
// only of digits and signs keeps its signs ("#9" is not "9").
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace oxnames {

inline constexpr size_t kTitleKeyBytes = 256;
inline constexpr int kTitleKeyTokens = 32;
inline constexpr int kTitleKeyParts = 4;

struct title_key {
    char text[kTitleKeyBytes];           // the tokens' bytes, back to back
    uint16_t start[kTitleKeyTokens + 1];  // token t is text[start[t], start[t + 1])
    int count;                           // tokens kept
    int main_count;                      // tokens before a subtitle (":", " - ", "(")
    int part_start[kTitleKeyParts];      // where each part after a ":" or " - " begins
    int part_count;
    int brand_count;  // leading tokens of a possessive brand ("Tom Clancy's"), or 0

    std::string_view token(int t) const {
        return {text + start[t], static_cast<size_t>(start[t + 1] - start[t])};
    }
    // Every token run together: "spider man" and "spiderman" meet here.
    std::string_view compact() const { return {text, start[count]}; }
};

// Reduces a UTF-8 title (any bytes accepted) into *out. Text past the
// key's room is left out.
void title_key_make(std::string_view title, title_key *out);

// True for a leading word a title may carry in one spelling and not in
// another ("the", "les", "der" ...).
bool title_key_is_article(std::string_view word);

// The key of title followed by one more word (a country: "shameless us").
void title_key_append(title_key *key, std::string_view word);

}  // namespace oxnames
