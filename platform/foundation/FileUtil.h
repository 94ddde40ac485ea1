#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

namespace ww::file {

// Writes the whole file or nothing: a temporary file beside it, fsync, rename
// over the target, fsync of the folder. A reader never sees a partial file.
// The file ends up with `mode` (the temporary file is created with it).
// Returns false and fills `error` on failure. Without `durable` the two fsync
// calls are left out: readers still never see a partial file, but a crash may
// lose the change (for state that is no user data, such as a simulation's).
bool writeAtomically(const std::string& path, const std::string& bytes, mode_t mode,
                     std::string* error = nullptr, bool durable = true);

// The whole file, or nothing when it cannot be read (errno-style text in `error`).
std::optional<std::string> readAll(const std::string& path, std::string* error = nullptr);

// Creates the folder and its missing parents (new ones get `mode`, less the
// umask). True when the folder exists afterwards.
bool makeDirectories(const std::string& path, std::string* error = nullptr, mode_t mode = 0700);

std::string dirName(const std::string& path);

}  // namespace ww::file
