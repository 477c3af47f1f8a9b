// Configuration setters, the last error and the warning list.
#include <string>

#include "core/oxmeta_state.h"
#include "support.h"

namespace {

using ConfigTest = LibraryTest;

struct KeySetter {
    int (*set)(const char *);
    char *ox_state::*field;
    const char *message;
};

const KeySetter kKeySetters[] = {
    {oxmeta_tmdb_set_key, &ox_state::tmdb_key, "tmdb key must be non-empty (no defaults, SPEC 1)"},
    {oxmeta_tmdb_set_bearer, &ox_state::tmdb_bearer, "bearer token must be non-empty"},
    {oxmeta_omdb_set_key, &ox_state::omdb_key, "omdb key must be non-empty (no defaults, SPEC 1)"},
};

TEST_F(ConfigTest, InitialState) {
    EXPECT_STREQ(oxmeta_last_error(), "");
    EXPECT_EQ(oxmeta_warning_count(), 0);
    EXPECT_STREQ(oxmeta_last_url(), "");
    EXPECT_STREQ(oxmeta_result_json(), "");
}

TEST_F(ConfigTest, KeySettersRejectNullAndEmptyAndKeepTheOldValue) {
    for (const auto &s : kKeySetters) {
        ASSERT_EQ(s.set("first"), OXMETA_OK);
        for (const char *bad : {static_cast<const char *>(nullptr), ""}) {
            oxmeta_set_timeout_ms(-1);  // a different message in between
            EXPECT_EQ(s.set(bad), OXMETA_E_INVALID_ARG);
            EXPECT_STREQ(oxmeta_last_error(), s.message);
            EXPECT_STREQ(g_ox.*s.field, "first");
        }
        ASSERT_EQ(s.set("second"), OXMETA_OK);
        EXPECT_STREQ(g_ox.*s.field, "second");
        // A success does not clear the message of the failure before it.
        EXPECT_STREQ(oxmeta_last_error(), s.message);
    }
}

TEST_F(ConfigTest, LanguageDefaultsToEnUs) {
    EXPECT_EQ(oxmeta_set_language("de-DE"), OXMETA_OK);
    EXPECT_STREQ(g_ox.language, "de-DE");
    EXPECT_EQ(oxmeta_set_language(""), OXMETA_OK);
    EXPECT_STREQ(g_ox.language, "en-US");
    oxmeta_set_language("fr");
    EXPECT_EQ(oxmeta_set_language(nullptr), OXMETA_OK);
    EXPECT_STREQ(g_ox.language, "en-US");
}

TEST_F(ConfigTest, TimeoutAcceptsZeroRejectsNegative) {
    EXPECT_EQ(oxmeta_set_timeout_ms(250), OXMETA_OK);
    EXPECT_EQ(oxmeta_set_timeout_ms(0), OXMETA_OK);
    EXPECT_EQ(g_ox.timeout_ms, 0);
    EXPECT_EQ(oxmeta_set_timeout_ms(-1), OXMETA_E_INVALID_ARG);
    EXPECT_STREQ(oxmeta_last_error(), "timeout must be >= 0");
    EXPECT_EQ(g_ox.timeout_ms, 0);
}

TEST_F(ConfigTest, TransportSelectionStates) {
    HostTransport host;
    oxmeta_set_io(&host.table);
    EXPECT_EQ(g_ox.io, &host.table);
    EXPECT_EQ(g_ox.io_mode, 0);

    EXPECT_EQ(oxmeta_use_curl(), OXMETA_E_NO_IO);
    EXPECT_STREQ(oxmeta_last_error(), "built without libcurl (OXMETA_NO_CURL) \xE2\x80\x94 no curl backend");
    EXPECT_EQ(g_ox.io, &host.table);

    EXPECT_EQ(oxmeta_use_fake(), OXMETA_OK);
    EXPECT_EQ(g_ox.io_mode, 1);
    EXPECT_EQ(g_ox.io, nullptr);

    oxmeta_set_io(&host.table);
    EXPECT_EQ(g_ox.io_mode, 0);
    oxmeta_set_io(nullptr);
    EXPECT_EQ(g_ox.io, nullptr);
}

TEST_F(ConfigTest, ErrorMessagesAreCutAt1023Bytes) {
    const std::string exact(1023, 'e');
    ox_set_error("%s", exact.c_str());
    EXPECT_EQ(std::string(oxmeta_last_error()), exact);
    ox_set_error("%s!", exact.c_str());
    EXPECT_EQ(std::string(oxmeta_last_error()), exact);
}

TEST_F(ConfigTest, WarningsAccumulateInOrderAndGrowPastEight) {
    for (int i = 0; i < 9; ++i) ox_add_warning("warning %d", i);
    ox_add_warning("%s", "warning 8");
    ASSERT_EQ(oxmeta_warning_count(), 10);
    EXPECT_EQ(g_ox.warnings.capacity, 16);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(std::string(oxmeta_warning(i)), "warning " + std::to_string(i));
    EXPECT_STREQ(oxmeta_warning(9), "warning 8");
    EXPECT_STREQ(oxmeta_warning(-1), "");
    EXPECT_STREQ(oxmeta_warning(oxmeta_warning_count()), "");

    const std::string longer(600, 'w');
    ox_add_warning("%s", longer.c_str());
    EXPECT_EQ(std::string(oxmeta_warning(10)), longer.substr(0, 511));
}

TEST_F(ConfigTest, ShutdownReleasesConfigurationAndMessages) {
    oxmeta_tmdb_set_key("k");
    oxmeta_tmdb_set_bearer("b");
    oxmeta_omdb_set_key("o");
    oxmeta_set_language("de");
    oxmeta_set_timeout_ms(40);
    ox_add_warning("w");
    oxmeta_use_curl();
    oxmeta_use_fake();
    oxmeta_shutdown();
    EXPECT_EQ(g_ox.tmdb_key, nullptr);
    EXPECT_EQ(g_ox.tmdb_bearer, nullptr);
    EXPECT_EQ(g_ox.omdb_key, nullptr);
    EXPECT_EQ(g_ox.language, nullptr);
    EXPECT_STREQ(oxmeta_last_error(), "");
    EXPECT_EQ(oxmeta_warning_count(), 0);
    EXPECT_EQ(g_ox.timeout_ms, 40);
    EXPECT_EQ(g_ox.io_mode, 1);
    oxmeta_shutdown();  // a second call changes nothing
    EXPECT_EQ(g_ox.timeout_ms, 40);
    EXPECT_EQ(oxmeta_warning_count(), 0);
}

}  // namespace
