// The credentials a request URL carries (api_key, apikey), taken out of the
// texts the tool writes: recordings, verbose lines.
#pragma once

#include <string>
#include <vector>

// url with every api_key and apikey query parameter removed.
std::string strip_credentials(const std::string &url);

// url with the value of every api_key and apikey parameter shown as "***".
std::string mask_credentials(const std::string &url);

// text with every credential value of url (as sent and percent-decoded)
// replaced by "REDACTED": a reply that echoes the request keeps no key.
std::string scrub_credentials(std::string text, const std::string &url);
