// Byte buffer, percent-encoding, URL masking and number conversions.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <yyjson.h>

#include "core/oxmeta_util.h"

namespace {

struct FreeText {
    void operator()(char *p) const { std::free(p); }
};
using Text = std::unique_ptr<char, FreeText>;

TEST(Buf, NullBufferAndEmptyAppends) {
    EXPECT_EQ(ox_buf_add(nullptr, "x", 1), -1);
    EXPECT_EQ(ox_buf_add(nullptr, nullptr, 0), -1);
    ox_buf b{};
    EXPECT_EQ(ox_buf_add(&b, nullptr, 5), 0);
    EXPECT_EQ(ox_buf_add(&b, "abc", 0), 0);
    EXPECT_EQ(ox_buf_adds(&b, nullptr), 0);
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.cap, 0u);
}

TEST(Buf, GrowsFrom256ByDoubling) {
    const std::string s255(255, 'a'), s256(256, 'b');
    ox_buf b{};
    ASSERT_EQ(ox_buf_add(&b, s255.data(), s255.size()), 0);
    EXPECT_EQ(b.cap, 256u);
    EXPECT_EQ(b.len, 255u);
    ASSERT_EQ(ox_buf_add(&b, "c", 1), 0);
    EXPECT_EQ(b.cap, 512u);
    EXPECT_EQ(b.data[256], '\0');
    ox_buf_free(&b);

    ASSERT_EQ(ox_buf_add(&b, s256.data(), s256.size()), 0);
    EXPECT_EQ(b.cap, 512u);
    ox_buf_free(&b);
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.len, 0u);
    EXPECT_EQ(b.cap, 0u);
    ox_buf_free(&b);
    ox_buf_free(nullptr);
}

TEST(Buf, KeepsInnerNulBytes) {
    ox_buf b{};
    ASSERT_EQ(ox_buf_add(&b, "a\0b", 3), 0);
    ASSERT_EQ(ox_buf_adds(&b, "cd"), 0);
    EXPECT_EQ(std::string(b.data, b.len), std::string("a\0bcd", 5));
    ox_buf_free(&b);
}

TEST(Errstr, TextsOfEveryCode) {
    EXPECT_STREQ(ox_errstr(0), "OK");
    EXPECT_STREQ(ox_errstr(-1), "transport failure");
    EXPECT_STREQ(ox_errstr(-5), "response is not valid JSON");
    EXPECT_STREQ(ox_errstr(-7), "empty result");
    EXPECT_STREQ(ox_errstr(-9), "no IO backend installed");
    EXPECT_STREQ(ox_errstr(-11), "out of memory");
    EXPECT_STREQ(ox_errstr(1), "unknown error");
    EXPECT_STREQ(ox_errstr(-12), "unknown error");
    EXPECT_STREQ(ox_errstr(INT_MIN), "unknown error");
}

TEST(Strdup, PassesNullThrough) {
    EXPECT_EQ(ox_strdup(nullptr), nullptr);
    Text copy(ox_strdup("abc"));
    EXPECT_STREQ(copy.get(), "abc");
}

TEST(QueryEscape, UnreservedSetIsExactlyRfc3986) {
    int allowed = 0;
    for (int c = 0; c < 256; ++c) allowed += ox_qchar_ok(c);
    EXPECT_EQ(allowed, 66);
    for (int c : {int{'/'}, int{' '}, int{'+'}, int{'%'}, 0x80, 0xFF}) EXPECT_EQ(ox_qchar_ok(c), 0) << c;
}

struct EscapeCase {
    const char *in;
    const char *out;
};

TEST(QueryEscape, Table) {
    const EscapeCase cases[] = {
        {"a b", "a%20b"},
        {"A-Z_a.z~09", "A-Z_a.z~09"},
        {"a/b?c=d&e", "a%2Fb%3Fc%3Dd%26e"},
        {"+", "%2B"},
        {"\xC3\xA9", "%C3%A9"},
        {"", ""},
    };
    for (const auto &c : cases) {
        Text out(ox_query_escape(c.in));
        ASSERT_NE(out, nullptr) << c.in;
        EXPECT_STREQ(out.get(), c.out) << c.in;
    }
    EXPECT_EQ(ox_query_escape(nullptr), nullptr);
}

TEST(RedactUrl, Table) {
    const EscapeCase cases[] = {
        {"", ""},
        {"https://h/x?page=1", "https://h/x?page=1"},
        {"/tv/airing_today?page=1&api_key=SECRET&language=en-US",
         "/tv/airing_today?page=1&api_key=***&language=en-US"},
        {"/?i=tt1&apikey=SECRET", "/?i=tt1&apikey=***"},
        {"api_key=&page=1", "api_key=***&page=1"},
        {"Bearer%20TOKEN&page=2", "Bearer%20***&page=2"},
        {"h: Bearer%20TOKEN\"rest", "h: Bearer%20***\"rest"},
        {"a?api_key=K1&x=1&apikey=K2", "a?api_key=***&x=1&apikey=***"},
        {"API_KEY=K&my_api_key=V", "API_KEY=K&my_api_key=***"},
        {"x?api_key=a\"b&c", "x?api_key=***&c"},
    };
    for (const auto &c : cases) {
        Text out(ox_redact_url(c.in));
        ASSERT_NE(out, nullptr) << c.in;
        EXPECT_STREQ(out.get(), c.out) << c.in;
    }
    Text none(ox_redact_url(nullptr));
    EXPECT_STREQ(none.get(), "");
}

struct JsonIntCase {
    const char *json;
    int expected;
};

TEST(JsonInt, ByValueType) {
    const JsonIntCase cases[] = {
        {"42", 42},
        {"7.9", 7},
        {"-7.9", -7},
        {"\"12\"", 12},
        {"\"12abc\"", 12},
        {"\" -5\"", -5},
        {"\"abc\"", -99},
        {"\"\"", -99},
        {"true", -99},
        {"null", -99},
        {"[1]", -99},
        {"{}", -99},
        {"4294967297", 1},
        {"-4294967297", -1},
        {"\"99999999999\"", INT_MAX},
        {"\"-99999999999\"", INT_MIN},
        {"\"99999999999999999999999\"", INT_MAX},
        {"1e300", INT_MAX},
        {"-1e300", INT_MIN},
        {"2147483647.9", INT_MAX},
    };
    for (const auto &c : cases) {
        yyjson_doc *doc = yyjson_read(c.json, std::strlen(c.json), 0);
        ASSERT_NE(doc, nullptr) << c.json;
        EXPECT_EQ(ox_json_int(yyjson_doc_get_root(doc), -99), c.expected) << c.json;
        yyjson_doc_free(doc);
    }
    EXPECT_EQ(ox_json_int(nullptr, 5), 5);
}

struct TextIntCase {
    const char *in;
    int expected;
};

TEST(YearFromDate, Table) {
    const TextIntCase cases[] = {
        {"2019-05-01", 2019}, {"abc2019", 2019}, {"(1999)", 1999}, {"12345", 1234},
        {"0999", 999},        {"99-01-01", -1},  {"May 5, 2001", -1}, {"", -1},
        {"2019\xE2\x80\x93", 2019},
    };
    for (const auto &c : cases) EXPECT_EQ(ox_year_from_date(c.in), c.expected) << c.in;
    EXPECT_EQ(ox_year_from_date(nullptr), -1);
}

TEST(PermilleFromDoubleStr, Table) {
    const TextIntCase cases[] = {
        {"7.5", 7500},   {"8.25", 8250},  {"-1.2", -1200}, {"7.1239", 7123}, {"  6.8", 6800},
        {".5", 500},     {"7.", 7000},    {"10", 10000},   {"7,5", 7000},    {"N/A", 0},
        {"+7.5", 0},     {"", 0},         {"\t7", 0},      {"- 7", 0},
        // Results beyond the int range saturate instead of overflowing.
        {"2147483", 2147483000}, {"2147484", INT_MAX}, {"-2147484", INT_MIN},
        {"99999999999999999999999999.5", INT_MAX},
    };
    for (const auto &c : cases) EXPECT_EQ(ox_permille_from_double_str(c.in), c.expected) << c.in;
    EXPECT_EQ(ox_permille_from_double_str(nullptr), -1);
}

}  // namespace
