// Byte buffer, status texts and the text and number helpers. None of these
// touches the library state or its lock; all are safe on any thread.
#pragma once

#include <cstddef>

struct yyjson_val;

#if defined(__GNUC__)
#define OX_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define OX_PRINTF(fmt, args)
#endif

// Growable NUL-terminated byte buffer. All zero is the empty buffer.
struct ox_buf {
    char *data;  // stored bytes plus a NUL; null until the first append
    size_t len;  // bytes stored, NUL not counted
    size_t cap;  // bytes allocated at data
};

// Appends count bytes; 0 on success, -1 (buffer unchanged) on failure.
int ox_buf_add(ox_buf *b, const void *src, size_t count);
// Appends a NUL-terminated text (null appends nothing).
int ox_buf_adds(ox_buf *b, const char *text);
// Releases the bytes; the buffer is empty and reusable afterwards.
void ox_buf_free(ox_buf *b);

// Static text for a status code; "unknown error" for codes not defined.
const char *ox_errstr(int code);

// strdup that passes null through.
char *ox_strdup(const char *s);
// 1 for the RFC 3986 unreserved bytes, else 0.
int ox_qchar_ok(int c);
// Percent-encodes a query value; null in, null out; null on exhausted memory.
char *ox_query_escape(const char *s);
// ox_query_escape of the longest start of s, cut at a character boundary,
// whose encoding takes at most max_bytes: a query that must fit a buffer is
// shortened before it is encoded, never cut inside a "%XX".
char *ox_query_escape_clipped(const char *s, size_t max_bytes);
// Copy of url with api_key=, apikey= and Bearer%20 values masked as "***".
// Null only when memory runs out; never contains a credential.
char *ox_redact_url(const char *url);

// Integer from a JSON value: ints keep their low 32 bits, reals truncate
// (saturating), strings parse in base 10 (saturating); otherwise def.
int ox_json_int(yyjson_val *v, int def);
// Year from the first run of digits when it has at least four; else -1.
int ox_year_from_date(const char *s);
// Decimal text in thousandths ("7.5" -> 7500), truncated, saturating;
// -1 for null.
int ox_permille_from_double_str(const char *s);
