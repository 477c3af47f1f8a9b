// Sizes in bytes as people write them: "1048576", "512K", "32M", "1GiB"
// (binary units), and back ("32 MiB").
#pragma once

#include <cstdint>
#include <optional>
#include <string>

std::optional<uint64_t> parse_byte_size(const std::string &text);
std::string byte_size_text(uint64_t bytes);
