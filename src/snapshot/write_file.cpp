#include "snapshot/write_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace taviro::snapshot {

namespace {

std::atomic<unsigned> g_counter{0};

std::string ErrnoText(const char* what, const std::filesystem::path& path) {
    return std::string(what) + " " + path.string() + ": " + std::strerror(errno);
}

}  // namespace

bool WriteFileAtomically(const std::filesystem::path& file, std::span<const std::uint8_t> bytes,
                         std::string* error) {
    auto fail = [error](std::string text) {
        if (error != nullptr) {
            *error = std::move(text);
        }
        return false;
    };
    // Unique per process and call, so parallel workers never share a temporary file.
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".part-%ld-%u", static_cast<long>(getpid()),
                  g_counter.fetch_add(1));
    std::filesystem::path temp = file;
    temp += suffix;
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        return fail(ErrnoText("cannot create", temp));
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const std::string text = ErrnoText("cannot write", temp);
            ::close(fd);
            ::unlink(temp.c_str());
            return fail(text);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0 && errno != EINVAL) {
        const std::string text = ErrnoText("cannot write", temp);
        ::close(fd);
        ::unlink(temp.c_str());
        return fail(text);
    }
    if (::close(fd) != 0) {
        const std::string text = ErrnoText("cannot close", temp);
        ::unlink(temp.c_str());
        return fail(text);
    }
    if (std::rename(temp.c_str(), file.c_str()) != 0) {
        const std::string text = ErrnoText("cannot rename to", file);
        ::unlink(temp.c_str());
        return fail(text);
    }
    return true;
}

}  // namespace taviro::snapshot
