#include "runtime/os_random.hpp"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

namespace ternavik {
namespace {

// getrandom(2), retried on interruption and short reads; 0 or errno.
int fill_from_getrandom(std::uint8_t* buffer, std::size_t length) {
    std::size_t done = 0;
    while (done < length) {
        const ssize_t got = getrandom(buffer + done, length - done, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        done += static_cast<std::size_t>(got);
    }
    return 0;
}

// /dev/urandom for kernels or sandboxes without getrandom; 0 or errno.
int fill_from_urandom(std::uint8_t* buffer, std::size_t length) {
    const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    int error = 0;
    std::size_t done = 0;
    while (done < length) {
        const ssize_t got = read(fd, buffer + done, length - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            error = got < 0 ? errno : EIO;
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    close(fd);
    return error;
}

// The primary source's code is the one reported when both fail.
int fill_from_os(std::uint8_t* buffer, std::size_t length) {
    const int error = fill_from_getrandom(buffer, length);
    if (error == 0) return 0;
    return fill_from_urandom(buffer, length) == 0 ? 0 : error;
}

std::atomic<OsFillFunction> current_source{&fill_from_os};

}  // namespace

int os_fill(std::uint8_t* buffer, std::size_t length) {
    return current_source.load(std::memory_order_acquire)(buffer, length);
}

OsFillFunction set_os_fill_for_testing(OsFillFunction source) {
    return current_source.exchange(source, std::memory_order_acq_rel);
}

std::string os_error_text(int code) {
    return "OS Error: " + std::to_string(code);
}

}  // namespace ternavik
