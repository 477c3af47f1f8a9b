// The transport the command line asks for, layer on layer: recorded replies
// or libcurl, then the recorder (--record), then the tracer (--verbose).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "config.h"
#include "http_curl.h"
#include "oxmeta.h"
#include "recording.h"
#include "trace.h"

struct transport_chain {
    std::unique_ptr<replayer> replay;
    std::unique_ptr<curl_transport> live;
    std::unique_ptr<recorder> record;
    std::unique_ptr<tracer> trace;
    const oxmeta_io *io = nullptr;  // null when the chain could not be made
    std::string error;              // why, when io is null
    int exit_status = 0;            // the tool's exit status then
    uint64_t max_reply = 0;         // bytes of one reply (--max-reply-size)
};

// What one fetch of bytes gave.
enum class fetch_outcome { fetched, not_recorded, failed };

// One GET of url as bytes (NULs and all) through the chain's replies or
// libcurl, at most max_reply bytes; not_recorded when replaying and no reply
// was recorded. error says why when not fetched.
fetch_outcome fetch_bytes(transport_chain &chain, const std::string &url, std::string &bytes, long &status,
                          std::string &error);

// The chain for s: replayed from s.replay_dir when set, else live with a
// deadline of deadline_ms over all its requests (0: none).
std::unique_ptr<transport_chain> make_transport_chain(const settings &s, long deadline_ms);
