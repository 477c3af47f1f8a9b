// The request-and-publish path that every provider shares: send one GET,
// publish the body as the last body, map the HTTP status, parse the JSON;
// then replace the result store in one hold of the lock.
#pragma once

#include <memory>
#include <span>

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
int ox_fetch_json(const ox_service &service, const char *url, ox_doc *doc);

// Parses the bytes of body (none: the empty text) as strict JSON; null when
// they are not valid JSON. The body is only read.
yyjson_doc *ox_json_parse(const ox_buf &body);

// Text of the string member key of obj, or null when obj is not an object,
// the first member named key is missing, or its value is not a string.
const char *ox_json_str(yyjson_val *obj, const char *key);

// Text of the first of the string members keys that has content; the last
// one counts even when empty. Null when none is a string.
template <typename... Keys>
const char *ox_json_first_str(yyjson_val *obj, const char *key, Keys... rest) {
    const char *text = ox_json_str(obj, key);
    if constexpr (sizeof...(rest) == 0) {
        return text;
    } else {
        return text && *text ? text : ox_json_first_str(obj, rest...);
    }
}

// Lends a text to a record that ox_result_add will copy; never freed.
inline char *ox_lend(const char *text) { return const_cast<char *>(text); }

// Replaces the whole result store with one record; 0, or -1 when it could
// not be stored (the store is then empty).
int ox_results_replace_one(const ox_result &record);

// Appends one record per element of array, in order, each made by
// make(element) (lock held). False as soon as an append fails; the records
// appended before it stay. Anything but an array has no elements.
template <typename Make>
bool ox_results_append_each(yyjson_val *array, Make &&make) {
    size_t index = 0;
    size_t count = 0;
    yyjson_val *element = nullptr;
    yyjson_arr_foreach(array, index, count, element) {
        const ox_result record = make(element);
        if (ox_result_add(&record) != 0) return false;
    }
    return true;
}

// Sets the paging counters of a paged reply (lock held).
inline void ox_set_paging(int total_pages, int total_results, int page) {
    g_ox.total_pages = total_pages;
    g_ox.total_results = total_results;
    g_ox.page = page;
}

// Null for null or "": a text that counts only when it has content.
inline const char *ox_nonempty(const char *text) { return text && *text ? text : nullptr; }
