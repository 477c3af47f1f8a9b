#include "trace.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "credentials.h"

tracer::tracer(const oxmeta_io *inner) : inner_(inner) { table_ = {this, &tracer::get, nullptr, inner->free}; }

int tracer::get(void *ctx, const char *url, char **body, int *http_status, char **err) {
    auto *self = static_cast<tracer *>(ctx);
    std::fprintf(stderr, "oxmeta: GET %s\n", mask_credentials(url).c_str());
    const auto start = std::chrono::steady_clock::now();
    const int rc = self->inner_->get(self->inner_->ctx, url, body, http_status, err);
    const long long ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    if (rc == 0)
        std::fprintf(stderr, "oxmeta: HTTP %d, %zu bytes, %lld ms\n", *http_status, *body ? std::strlen(*body) : 0,
                     ms);
    else
        std::fprintf(stderr, "oxmeta: request failed after %lld ms: %s\n", ms, *err ? *err : "no reason given");
    return rc;
}
