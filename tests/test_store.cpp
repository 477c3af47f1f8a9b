// The result store, its accessors, the paging and TV getters, and what
// shutdown releases or keeps.
#include <cstdlib>
#include <string>

#include "core/oxmeta_state.h"
#include "providers/oxmeta_fetch.h"
#include "support.h"

namespace {

class StoreTest : public LibraryTest {
protected:
    static ox_result record(const char *id) {
        ox_result r{};
        r.source = ox_lend("TMDB");
        r.id = ox_lend(id);
        r.title = ox_lend("Title");
        r.year = 1999;
        r.rating_permille = 750;
        r.popularity_permille = 12;
        return r;
    }
    static int add(const ox_result &r) {
        ox_guard g;
        return ox_result_add(&r);
    }

    // Stores season data the way a TV detail reply would.
    static void seed_seasons() {
        ox_guard g;
        g_ox.season_cap = 2;
        g_ox.season_numbers = static_cast<int *>(std::malloc(2 * sizeof(int)));
        g_ox.season_posters = static_cast<char **>(std::malloc(2 * sizeof(char *)));
        g_ox.season_numbers[0] = 1;
        g_ox.season_numbers[1] = 2;
        g_ox.season_posters[0] = ox_strdup("/s1.jpg");
        g_ox.season_posters[1] = nullptr;
        g_ox.season_count = 2;
        g_ox.last_episode_season = 2;
        g_ox.last_episode_number = 7;
        g_ox.total_pages = 3;
        g_ox.total_results = 55;
        g_ox.page = 2;
    }
};

using TextGetter = const char *(*)(int);
using NumberGetter = int (*)(int);

const TextGetter kTextGetters[] = {
    oxmeta_result_source,      oxmeta_result_id,          oxmeta_result_imdb_id,
    oxmeta_result_title,       oxmeta_result_original_title, oxmeta_result_overview,
    oxmeta_result_media_type,  oxmeta_result_poster_path, oxmeta_result_backdrop_path,
    oxmeta_result_feed_url,    oxmeta_tv_season_poster,
};
const NumberGetter kNumberGetters[] = {
    oxmeta_result_year, oxmeta_result_rating_permille, oxmeta_result_popularity_permille,
    oxmeta_tv_season_number,
};

TEST_F(StoreTest, EmptyStoreGivesEmptyTextsAndMinusOne) {
    EXPECT_EQ(oxmeta_result_count(), 0);
    EXPECT_EQ(oxmeta_tv_season_count(), 0);
    for (int index : {-1, 0, 1}) {
        for (auto get : kTextGetters) EXPECT_STREQ(get(index), "");
        for (auto get : kNumberGetters) EXPECT_EQ(get(index), -1);
    }
}

TEST_F(StoreTest, AccessorsReadEveryField) {
    ox_result r = record("42");
    r.imdb_id = ox_lend("tt1");
    r.original_title = ox_lend("Orig");
    r.overview = ox_lend("Plot");
    r.media_type = ox_lend("movie");
    r.poster_path = ox_lend("/p.jpg");
    r.backdrop_path = ox_lend("/b.jpg");
    r.feed_url = ox_lend("https://f");
    ASSERT_EQ(add(r), 0);
    ASSERT_EQ(oxmeta_result_count(), 1);
    const char *expected[] = {"TMDB", "42", "tt1", "Title", "Orig", "Plot", "movie", "/p.jpg", "/b.jpg", "https://f"};
    for (int i = 0; i < 10; ++i) EXPECT_STREQ(kTextGetters[i](0), expected[i]);
    EXPECT_EQ(oxmeta_result_year(0), 1999);
    EXPECT_EQ(oxmeta_result_rating_permille(0), 750);
    EXPECT_EQ(oxmeta_result_popularity_permille(0), 12);
    EXPECT_STREQ(oxmeta_result_id(1), "");
    EXPECT_EQ(oxmeta_result_year(1), -1);
    // The store holds copies, not the caller's texts.
    EXPECT_NE(oxmeta_result_id(0), r.id);
}

TEST_F(StoreTest, NullTextFieldsAreStoredAsEmpty) {
    ox_result r = record("1");
    r.title = nullptr;
    ASSERT_EQ(add(r), 0);
    EXPECT_STREQ(oxmeta_result_title(0), "");
    EXPECT_STREQ(oxmeta_result_overview(0), "");
    EXPECT_NE(g_ox.results.items[0].overview, nullptr);
}

TEST_F(StoreTest, CapacityGrowsFrom16ByDoublingAndSurvivesClear) {
    for (int i = 0; i < 16; ++i) ASSERT_EQ(add(record(std::to_string(i).c_str())), 0);
    EXPECT_EQ(g_ox.results.capacity, 16);
    ASSERT_EQ(add(record("16")), 0);
    EXPECT_EQ(g_ox.results.capacity, 32);
    EXPECT_EQ(oxmeta_result_count(), 17);
    EXPECT_STREQ(oxmeta_result_id(16), "16");
    {
        ox_guard g;
        ox_results_clear();
    }
    EXPECT_EQ(oxmeta_result_count(), 0);
    EXPECT_EQ(g_ox.results.capacity, 32);
    EXPECT_STREQ(oxmeta_result_id(0), "");
}

TEST_F(StoreTest, ResultFreeIsIdempotent) {
    ox_result owned{};
    owned.source = ox_strdup("X");
    owned.title = ox_strdup("T");
    owned.year = 5;
    ox_result_free(&owned);
    EXPECT_EQ(owned.source, nullptr);
    EXPECT_EQ(owned.year, 0);
    ox_result_free(&owned);
    ox_result_free(nullptr);
}

TEST_F(StoreTest, SeasonGetters) {
    seed_seasons();
    EXPECT_EQ(oxmeta_tv_season_count(), 2);
    EXPECT_EQ(oxmeta_tv_season_number(1), 2);
    EXPECT_STREQ(oxmeta_tv_season_poster(0), "/s1.jpg");
    EXPECT_STREQ(oxmeta_tv_season_poster(1), "");
    EXPECT_STREQ(oxmeta_tv_season_poster(2), "");
    EXPECT_EQ(oxmeta_tv_season_number(2), -1);
    EXPECT_EQ(oxmeta_tv_last_episode_season(), 2);
    EXPECT_EQ(oxmeta_tv_last_episode_number(), 7);
}

TEST_F(StoreTest, ShutdownReleasesStoreAndSeasonsButKeepsCounters) {
    seed_seasons();
    ASSERT_EQ(add(record("1")), 0);
    oxmeta_shutdown();
    EXPECT_EQ(oxmeta_result_count(), 0);
    EXPECT_EQ(g_ox.results.items, nullptr);
    EXPECT_EQ(g_ox.results.capacity, 0);
    EXPECT_EQ(oxmeta_tv_season_count(), 0);
    EXPECT_EQ(g_ox.season_cap, 0);
    EXPECT_EQ(g_ox.season_posters, nullptr);
    EXPECT_EQ(oxmeta_total_pages(), 3);
    EXPECT_EQ(oxmeta_total_results(), 55);
    EXPECT_EQ(oxmeta_page(), 2);
    EXPECT_EQ(oxmeta_tv_last_episode_season(), 2);
    EXPECT_EQ(oxmeta_tv_last_episode_number(), 7);
    oxmeta_shutdown();
    EXPECT_EQ(oxmeta_total_pages(), 3);
}

}  // namespace
