// File helpers: reading whole files, querying sizes, folders, and the executable's own folder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// The whole content of a regular file, or nothing when it cannot be opened or read, is not a
// regular file, or is larger than maxBytes.
std::optional<std::vector<std::uint8_t>> ReadFileBytes(const std::string& path,
                                                       std::uint64_t maxBytes = UINT64_MAX);

// Up to `count` leading bytes of a regular file; empty when it cannot be read.
std::vector<std::uint8_t> ReadFilePrefix(const std::string& path, std::size_t count);

}  // namespace platform
