#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace veltrano {

// Whole-file reading and crash-safe replacing of the program's small files (settings and
// history). Errors are thrown as Error with the file's name and the system's text.

// The first `limit` bytes of the file (all of it by default); nullopt when the file does not
// exist. Any other failure (no permission, a folder in its place, a read error) throws.
std::optional<std::string> readFileBytes(const std::filesystem::path &path,
                                         size_t limit = std::string::npos);

// Replaces the file with `bytes`: writes a new file beside it, flushes it to disk and renames
// it over the old one, so that a crash or a full disk leaves either the old file or the whole
// new one, never a torn mix. `mode` is the new file's permission (the umask applies); the
// settings file asks for 0600 since it holds a password. Throws on any failure, after removing
// the half-written new file.
void writeFileAtomically(const std::filesystem::path &path, std::string_view bytes,
                         mode_t mode = 0666);

// Removes the file if it exists; throws when it exists and cannot be removed.
void removeFileIfExists(const std::filesystem::path &path);

} // namespace veltrano
