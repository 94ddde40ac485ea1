#pragma once

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>

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

// An exclusive advisory lock (flock) on a lock file, held until the object
// goes. Processes and threads that lock the same file take turns; the lock
// goes with the process, however it ends, and is not inherited by programs
// it starts.
class FileLock {
  public:
    enum class Wait { Block, Try };

    // Opens `path` (created with mode 0600 when missing) and locks it. Nothing
    // when it cannot: with Wait::Try, `busy` tells that another holder has it;
    // otherwise `error` says why.
    static std::unique_ptr<FileLock> acquire(const std::string& path, Wait wait,
                                             std::string* error = nullptr, bool* busy = nullptr);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Replaces the lock file's content (say, the holder's process ID).
    bool setContent(const std::string& text);

  private:
    explicit FileLock(int fd) : m_fd(fd) {}
    int m_fd;
};

}  // namespace ww::file
