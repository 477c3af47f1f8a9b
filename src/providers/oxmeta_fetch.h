// The request-and-publish path that every provider shares: send one GET,
// publish the body as the last body, map the HTTP status, parse the JSON;
// then replace the result store in one hold of the lock.
#pragma once

#include <charconv>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <utility>

#include <yyjson.h>

#include "core/oxmeta_state.h"

struct ox_doc_free {
    void operator()(yyjson_doc *doc) const { yyjson_doc_free(doc); }
};
using ox_doc = std::unique_ptr<yyjson_doc, ox_doc_free>;

// An HTTP status that a service maps onto a status code of its own.
struct ox_status_rule {
    int http_status;
    int code;
    const char *message;
};

struct ox_service {
    const char *name;  // as in "<name> HTTP 404"
    std::span<const ox_status_rule> rules;
};

// Sends url and publishes the reply body as the last body. Rules are tested
// in order, then any status outside 200..299 is "<name> HTTP <status>" and
// OXMETA_E_HTTP; a body that does not parse is "<name> response is not valid
// JSON" and OXMETA_E_JSON. On OXMETA_OK *doc holds the parsed reply.
// http_status, when given, receives this request's status (0 when none).
int ox_fetch_json(const ox_service &service, const char *url, ox_doc *doc, int *http_status = nullptr);

// Parses the bytes of body (none: the empty text) as strict JSON; null when
// they are not valid JSON, or when memory ran out (then *out_of_memory, if
// given, is set). The body is only read.
yyjson_doc *ox_json_parse(const ox_buf &body, bool *out_of_memory = nullptr);

// Text of the string member key of obj, or null when obj is not an object,
// the first member named key is missing, or its value is not a string.
const char *ox_json_str(yyjson_val *obj, const char *key);

// The first member of each of N keys of an object, found in one pass over
// its members: a later member with the same key is never seen, whatever the
// type of the first. Anything but an object has no members.
template <size_t N>
class ox_members {
public:
    ox_members(yyjson_val *obj, const std::string_view (&keys)[N]) {
        // yyjson's member loop reads a value as an object whatever it is.
        if (!yyjson_is_obj(obj)) return;
        // Members whose key length no wanted key has are passed over at once.
        uint64_t lengths = 0;
        for (const auto &k : keys) lengths |= k.size() < 64 ? uint64_t{1} << k.size() : 0;
        size_t index = 0;
        size_t count = 0;
        size_t found = 0;
        yyjson_val *key = nullptr;
        yyjson_val *value = nullptr;
        yyjson_obj_foreach(obj, index, count, key, value) {
            const std::string_view name(yyjson_get_str(key), yyjson_get_len(key));
            if (name.size() >= 64 || !(lengths >> name.size() & 1)) continue;
            for (size_t k = 0; k < N; ++k) {
                if (values_[k] || keys[k] != name) continue;
                values_[k] = value;
                if (++found == N) return;
                break;
            }
        }
    }

    yyjson_val *operator[](size_t k) const { return values_[k]; }
    // The text of member k, or null when it is missing or not a string.
    const char *str(size_t k) const { return yyjson_get_str(values_[k]); }

    // The text of the first of ks that has content; the last one counts
    // even when empty. Null when none is a string.
    template <typename... Rest>
    const char *first_str(size_t k, Rest... rest) const {
        const char *text = str(k);
        if constexpr (sizeof...(rest) == 0) {
            return text;
        } else {
            return text && *text ? text : first_str(rest...);
        }
    }

private:
    yyjson_val *values_[N] = {};
};

// Writes value in decimal into out and returns it.
template <size_t Size, typename Int>
char *ox_decimal(char (&out)[Size], Int value) {
    const auto end = std::to_chars(out, out + Size - 1, value).ptr;
    *end = '\0';
    return out;
}

// Lends a text to a record that ox_result_add will copy; never freed.
inline char *ox_lend(const char *text) { return const_cast<char *>(text); }

// Replaces the whole result store with one record; 0, or -1 when it could
// not be stored (the store is then empty).
int ox_results_replace_one(const ox_result &record);

// Records built outside the lock, then swapped into the store in one short
// hold of it. The records it replaces, and those that waited in the retired
// slot, are released with the batch after the lock is let go; records
// another thread built wait in the slot for the next publish instead, which
// with threads taking turns is that thread's own.
class ox_results_batch {
public:
    ox_results_batch() = default;
    ~ox_results_batch() {
        ox_list_free(&list_);
        ox_list_free(&older_);
    }
    ox_results_batch(const ox_results_batch &) = delete;
    ox_results_batch &operator=(const ox_results_batch &) = delete;

    // Copies the texts of record; false when memory runs out.
    bool add(const ox_result &record) { return ox_list_add(&list_, &record) == 0; }

    // Adds one record per element of array, in order, each made by
    // make(element). False as soon as one cannot be added; the records added
    // before it stay. Anything but an array has no elements.
    template <typename Make>
    bool add_each(yyjson_val *array, Make &&make) {
        size_t index = 0;
        size_t count = 0;
        yyjson_val *element = nullptr;
        yyjson_arr_foreach(array, index, count, element) {
            if (!add(make(element))) return false;
        }
        return true;
    }

    int count() const { return list_.count; }

    // Makes the batch the store; also() runs in the same hold of the lock,
    // for the state that changes together with the results.
    template <typename Also>
    void publish(Also &&also) {
        ox_guard g;
        swap_into_store();
        also();
    }
    void publish() {
        publish([] {});
    }

private:
    void swap_into_store();  // lock held
    ox_result_list list_{};
    ox_result_list older_{};
};

// Sets the paging counters of a paged reply (lock held).
inline void ox_set_paging(int total_pages, int total_results, int page) {
    g_ox.total_pages = total_pages;
    g_ox.total_results = total_results;
    g_ox.page = page;
}

// Null for null or "": a text that counts only when it has content.
inline const char *ox_nonempty(const char *text) { return text && *text ? text : nullptr; }
