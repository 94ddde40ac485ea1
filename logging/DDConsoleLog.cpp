#include "logging/DDConsoleLog.h"

#include <sys/uio.h>
#include <unistd.h>

namespace ww {

void DDConsoleLog(std::string_view line) {
    iovec iov[2] = {{const_cast<char*>(line.data()), line.size()}, {const_cast<char*>("\n"), 1}};
    // Nothing sensible is left to do when standard error is gone.
    [[maybe_unused]] ssize_t n = ::writev(STDERR_FILENO, iov, 2);
}

}  // namespace ww
