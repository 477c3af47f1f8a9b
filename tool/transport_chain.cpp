#include "transport_chain.h"

#include "sizes.h"

std::unique_ptr<transport_chain> make_transport_chain(const settings &s, long deadline_ms) {
    auto chain = std::make_unique<transport_chain>();
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
            curl_options{s.timeout_ms, s.retries, deadline_ms, *parse_byte_size(s.max_reply_size), s.base_url});
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
