#include "providers/oxmeta_fetch.h"

#include <cstdlib>
#include <utility>

namespace {

// yyjson takes its memory from the C library's allocator, as everything
// else here does; its failures then count as running out of memory.
void *alc_malloc(void *, size_t size) { return std::malloc(size); }
void *alc_realloc(void *, void *p, size_t, size_t size) { return std::realloc(p, size); }
void alc_free(void *, void *p) { std::free(p); }
constexpr yyjson_alc kAllocator = {alc_malloc, alc_realloc, alc_free, nullptr};

}  // namespace

yyjson_doc *ox_json_parse(const ox_buf &body, bool *out_of_memory) {
    // Without YYJSON_READ_INSITU the input is only read, never written.
    char *text = body.data ? body.data : const_cast<char *>("");
    yyjson_read_err error{};
    yyjson_doc *doc = yyjson_read_opts(text, body.len, 0, &kAllocator, &error);
    if (out_of_memory) *out_of_memory = !doc && error.code == YYJSON_READ_ERROR_MEMORY_ALLOCATION;
    return doc;
}

int ox_fetch_json(const ox_service &service, const char *url, ox_doc *doc, int *http_status) {
    ox_buf body{};
    int status = 0;
    const int rc = ox_http_get(url, &body, &status);
    if (http_status) *http_status = rc == OXMETA_OK ? status : 0;
    if (rc != OXMETA_OK) {
        ox_buf_free(&body);
        return rc;
    }
    // Parse this call's own bytes before they become the shared last body:
    // once published, another thread's request may replace them.
    const bool success_status = status >= 200 && status <= 299;
    bool out_of_memory = false;
    ox_doc parsed(success_status ? ox_json_parse(body, &out_of_memory) : nullptr);
    ox_buf older{};
    {
        ox_guard g;
        std::swap(g_ox.last_body, body);
        const uintptr_t allocator = g_ox.last_body_owner;
        g_ox.last_body_owner = ox_thread_id();
        ox_retire(g_ox.retired_body, body, allocator, older);
    }
    // Released outside the lock: the body that waited, and the replaced one
    // unless it waits in its place.
    ox_buf_free(&older);
    ox_buf_free(&body);
    for (const auto &rule : service.rules) {
        if (status == rule.http_status) {
            ox_set_error("%s", rule.message);
            return rule.code;
        }
    }
    if (!success_status) {
        ox_set_error("%s HTTP %ld", service.name, static_cast<long>(status));
        return OXMETA_E_HTTP;
    }
    if (out_of_memory) {
        ox_set_error("oom parsing the %s response", service.name);
        return OXMETA_E_OOM;
    }
    if (!parsed) {
        ox_set_error("%s response is not valid JSON", service.name);
        return OXMETA_E_JSON;
    }
    *doc = std::move(parsed);
    return OXMETA_OK;
}

const char *ox_json_str(yyjson_val *obj, const char *key) {
    if (!yyjson_is_obj(obj)) return nullptr;
    return yyjson_get_str(yyjson_obj_get(obj, key));
}

int ox_results_replace_one(const ox_result &record) {
    ox_results_batch batch;
    const bool added = batch.add(record);
    batch.publish();
    return added ? 0 : -1;
}

void ox_results_batch::swap_into_store() {
    std::swap(g_ox.results, list_);
    g_ox.match.count = 0;
    const uintptr_t builder = g_ox.results_owner;
    g_ox.results_owner = ox_thread_id();
    // The replaced records leave with the batch, or wait in the slot and
    // the records that waited there leave instead.
    ox_retire(g_ox.retired_results, list_, builder, older_);
}
