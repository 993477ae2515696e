#include "archive/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

namespace taviro::archive {

std::string ErrorText(int error) {
    std::array<char, 256> buffer{};
    // The GNU strerror_r returns its text, which may or may not be in the buffer.
    const char* text = strerror_r(error, buffer.data(), buffer.size());
    return text != nullptr ? std::string(text) : std::string("error ") + std::to_string(error);
}

CFile::~CFile() {
    Close();
}

CFile::CFile(CFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)),
      m_error(std::move(other.m_error)),
      m_nWriteLimit(std::exchange(other.m_nWriteLimit, UINT64_MAX)),
      m_nLimitError(other.m_nLimitError) {}

CFile& CFile::operator=(CFile&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = std::exchange(other.m_fd, -1);
        m_error = std::move(other.m_error);
        m_nWriteLimit = std::exchange(other.m_nWriteLimit, UINT64_MAX);
        m_nLimitError = other.m_nLimitError;
    }
    return *this;
}

CFile CFile::OpenRead(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    CFile file(fd);
    if (fd < 0) {
        file.m_error = ErrorText(errno);
    }
    return file;
}

CFile CFile::CreateNew(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    CFile file(fd);
    if (fd < 0) {
        file.m_error = ErrorText(errno);
    }
    return file;
}

bool CFile::Fail() {
    m_error = ErrorText(errno);
    return false;
}

std::uint64_t CFile::Size() const {
    struct stat st {};
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0 || st.st_size < 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(st.st_size);
}

bool CFile::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) {
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n =
            ::pread(m_fd, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Fail();
        }
        if (n == 0) {
            return false;  // the file ends first
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool CFile::WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) {
    return WriteAt(offset, data, {});
}

void CFile::LimitWrites(std::uint64_t limit, int error) {
    m_nWriteLimit = limit;
    m_nLimitError = error;
}

bool CFile::WriteAt(std::uint64_t offset, std::span<const std::uint8_t> first,
                    std::span<const std::uint8_t> second) {
    const std::uint64_t total = first.size() + second.size();
    if (m_nWriteLimit == UINT64_MAX || offset + total <= m_nWriteLimit) {
        return WriteAll(offset, first, second);
    }
    // What fits goes out, as a disk writes up to its last free block.
    const std::uint64_t fits = offset < m_nWriteLimit ? m_nWriteLimit - offset : 0;
    const std::size_t a = static_cast<std::size_t>(std::min<std::uint64_t>(fits, first.size()));
    const std::size_t b =
        static_cast<std::size_t>(std::min<std::uint64_t>(fits - a, second.size()));
    WriteAll(offset, first.first(a), second.first(b));
    errno = m_nLimitError;
    return Fail();
}

bool CFile::WriteAll(std::uint64_t offset, std::span<const std::uint8_t> first,
                     std::span<const std::uint8_t> second) {
    std::array<iovec, 2> parts{iovec{const_cast<std::uint8_t*>(first.data()), first.size()},
                               iovec{const_cast<std::uint8_t*>(second.data()), second.size()}};
    std::size_t index = 0;
    while (index < parts.size()) {
        if (parts[index].iov_len == 0) {
            ++index;
            continue;
        }
        const ssize_t n =
            ::pwritev(m_fd, parts.data() + index, static_cast<int>(parts.size() - index),
                      static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Fail();
        }
        if (n == 0) {
            errno = ENOSPC;
            return Fail();
        }
        offset += static_cast<std::uint64_t>(n);
        auto left = static_cast<std::size_t>(n);
        while (left > 0 && index < parts.size()) {
            const std::size_t take = std::min(left, parts[index].iov_len);
            parts[index].iov_base = static_cast<std::uint8_t*>(parts[index].iov_base) + take;
            parts[index].iov_len -= take;
            left -= take;
            if (parts[index].iov_len == 0) {
                ++index;
            }
        }
    }
    return true;
}

bool CFile::Truncate(std::uint64_t size) {
    return ::ftruncate(m_fd, static_cast<off_t>(size)) == 0 || Fail();
}

bool CFile::Sync() {
    return ::fdatasync(m_fd) == 0 || Fail();
}

void CFile::Close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

}  // namespace taviro::archive
