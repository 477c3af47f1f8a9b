// Images beside the videos organize files (--artwork): a film's poster and
// fanart in its folder, a show's poster (and the same as folder.jpg) in
// its folder, from the image paths TMDb's details give. They are planned
// with the metadata files, never where a file is, and fetched as bytes
// through the run's transport only when written.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "organize_nfo.h"
#include "organize_plan.h"
#include "transport_chain.h"

// The images to write beside the plan's videos; a file whose lookups
// failed is told on stderr and counted in failed.
std::vector<plan_write> plan_artwork_files(const organize_plan &plan, const std::vector<match_outcome> &outcomes,
                                           const nfo_lookups &lookups, const std::string &library, size_t &failed);

// Whether bytes begin as a JPEG or a PNG file does.
bool looks_like_image(const std::string &bytes);

// Fetches the images' bytes through chain (which must outlive it): a reply
// other than a 200 with a body, larger than the reply limit, or not an
// image fails; with replies replayed, an image not recorded is skipped.
decltype(journal_hooks::fetch) image_fetcher(transport_chain &chain);
