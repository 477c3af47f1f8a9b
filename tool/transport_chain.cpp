#include "transport_chain.h"

#include "sizes.h"

std::unique_ptr<transport_chain> make_transport_chain(const settings &s, long deadline_ms) {
    auto chain = std::make_unique<transport_chain>();
    chain->max_reply = *parse_byte_size(s.max_reply_size);
    if (!s.replay_dir.empty()) {
        chain->replay = std::make_unique<replayer>(s.replay_dir);
        if (!chain->replay->ok()) {
            chain->error = chain->replay->error();
            chain->exit_status = 2;
            return chain;
        }
        chain->io = chain->replay->io();
    } else {
        chain->live = std::make_unique<curl_transport>(
            curl_options{s.timeout_ms, s.retries, deadline_ms, chain->max_reply, s.base_url});
        if (!chain->live->ok()) {
            chain->error = "libcurl could not be initialised";
            chain->exit_status = 1;
            return chain;
        }
        const oxmeta_io *io = chain->live->io();
        if (!s.record_dir.empty()) {
            chain->record = std::make_unique<recorder>(io, s.record_dir);
            if (!chain->record->prepare()) {
                chain->error = "--record: " + chain->record->error();
                chain->exit_status = 2;
                return chain;
            }
            io = chain->record->io();
        }
        chain->io = io;
    }
    if (s.verbose) {
        chain->trace = std::make_unique<tracer>(chain->io);
        chain->io = chain->trace->io();
    }
    return chain;
}

fetch_outcome fetch_bytes(transport_chain &chain, const std::string &url, std::string &bytes, long &status,
                          std::string &error) {
    bytes.clear();
    if (chain.replay) {
        int recorded = 0;
        if (!chain.replay->find(url, recorded, bytes)) {
            error = "no recording of it";
            return fetch_outcome::not_recorded;
        }
        status = recorded;
        if (bytes.size() > chain.max_reply) {
            bytes.clear();
            error = std::string("reply larger than ").append(byte_size_text(chain.max_reply)).append(" (--max-reply-size)");
            return fetch_outcome::failed;
        }
        return fetch_outcome::fetched;
    }
    if (!chain.live) {
        error = "no transport";
        return fetch_outcome::failed;
    }
    return chain.live->fetch(url, bytes, status, error) == 0 ? fetch_outcome::fetched : fetch_outcome::failed;
}
