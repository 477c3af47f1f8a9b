// A libcurl transport would live here. This library is built with
// OXMETA_NO_CURL: the host supplies its own transport table instead, and
// oxmeta_use_curl() reports that no curl backend exists.
#ifndef OXMETA_NO_CURL
#error "no libcurl transport is available; build with OXMETA_NO_CURL"
#endif
