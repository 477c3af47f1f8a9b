// --verbose: a transport layer that tells each request on stderr (its URL
// with credentials masked, then its status, size and time) and passes it on.
#pragma once

#include "oxmeta.h"

class tracer {
public:
    explicit tracer(const oxmeta_io *inner);
    const oxmeta_io *io() const { return &table_; }

private:
    static int get(void *ctx, const char *url, char **body, int *http_status, char **err);
    const oxmeta_io *inner_;
    oxmeta_io table_{};
};
