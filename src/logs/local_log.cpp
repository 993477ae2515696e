#include "logs/local_log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <fstream>

#include "platform/storage.h"

namespace taviro::logs {

namespace {

constexpr std::size_t kDetailSize = 128;
constexpr std::size_t kShortTextSize = 32;

std::uint32_t LE32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
void PutLE32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}
std::string FieldText(const std::uint8_t* p, std::size_t width) {
    const auto* end = std::find(p, p + width, std::uint8_t{0});
    return std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(end - p));
}

// Positional I/O that finishes short transfers; false on any error.
bool WriteAt(int fd, const std::uint8_t* data, std::size_t size, off_t offset) {
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, offset);
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += n;
    }
    return true;
}
std::size_t ReadAt(int fd, std::uint8_t* data, std::size_t size, off_t offset) {
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd, data + got, size - got, offset + static_cast<off_t>(got));
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    return got;
}

// Closes the descriptor (and with it the advisory lock) on every path.
struct FileHandle {
    int fd = -1;
    ~FileHandle() {
        if (fd >= 0)
            ::close(fd);
    }
};

}  // namespace

std::array<std::uint8_t, kLocalLogRecordSize> LocalLogRecord::Encode() const {
    std::array<std::uint8_t, kLocalLogRecordSize> out{};
    PutLE32(out.data() + 0, number);
    PutLE32(out.data() + 4, size);
    PutLE32(out.data() + 8, kind);
    PutLE32(out.data() + 12, subType);
    PutLE32(out.data() + 16, time);
    PutLE32(out.data() + 20, param);
    std::memcpy(out.data() + 24, detail.data(), std::min(detail.size(), kDetailSize));
    std::memcpy(out.data() + 152, shortText.data(), std::min(shortText.size(), kShortTextSize));
    return out;
}

LocalLogRecord LocalLogRecord::Decode(std::span<const std::uint8_t, kLocalLogRecordSize> b) {
    LocalLogRecord r;
    r.number = LE32(b.data() + 0);
    r.size = LE32(b.data() + 4);
    r.kind = LE32(b.data() + 8);
    r.subType = LE32(b.data() + 12);
    r.time = LE32(b.data() + 16);
    r.param = LE32(b.data() + 20);
    r.detail = FieldText(b.data() + 24, kDetailSize);
    r.shortText = FieldText(b.data() + 152, kShortTextSize);
    return r;
}

std::int64_t LocalWallClockSeconds(std::int64_t utcSeconds) {
    const auto t = static_cast<std::time_t>(utcSeconds);
    std::tm local{};
    if (::localtime_r(&t, &local) == nullptr)
        return utcSeconds;
    return utcSeconds + static_cast<std::int64_t>(local.tm_gmtoff);
}

CLocalLog::CLocalLog(std::filesystem::path storageFolder, bool playerMode)
    : m_folder(std::move(storageFolder)), m_playerMode(playerMode) {}

std::filesystem::path CLocalLog::FilePath() const {
    std::lock_guard lock(m_lock);
    return FilePathLocked();
}

std::filesystem::path CLocalLog::FilePathLocked() const {
    return m_folder / "Log" / kLocalLogFileName;
}

void CLocalLog::MoveTo(std::filesystem::path storageFolder) {
    std::lock_guard lock(m_lock);
    m_folder = std::move(storageFolder);
}

bool CLocalLog::WriteLocalLog(std::uint32_t size, std::uint32_t kind, std::uint32_t subType,
                              std::string_view shortText, std::string_view detail) {
    if (m_playerMode) {
        return false;
    }
    std::lock_guard lock(m_lock);
    if (!platform::EnsureFolder(m_folder / "Log")) {
        return false;
    }
    FileHandle file;
    file.fd = ::open(FilePathLocked().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (file.fd < 0 || ::flock(file.fd, LOCK_EX) != 0) {
        return false;
    }
    std::uint8_t header[kLocalLogHeaderSize] = {};
    ReadAt(file.fd, header, sizeof header, 0);  // a new file reads as zeros
    std::uint32_t full = LE32(header);
    std::uint32_t next = LE32(header + 4);
    if (next >= kLocalLogSlots) {
        // A damaged header must not send the write past the ring.
        next = 0;
        full = 1;
    }

    LocalLogRecord record;
    record.number = next;
    record.size = size;
    record.kind = kind;
    record.subType = subType;
    // The offset is taken per entry: one measured at start would be an hour off after a
    // daylight-saving change.
    record.time = m_fixedTime ? *m_fixedTime
                              : static_cast<std::uint32_t>(LocalWallClockSeconds(
                                    static_cast<std::int64_t>(std::time(nullptr))));
    record.param = 0;
    record.shortText = std::string(shortText.substr(0, kShortTextSize));
    record.detail = std::string(detail.substr(0, kDetailSize));
    const auto bytes = record.Encode();
    const off_t offset =
        static_cast<off_t>(kLocalLogHeaderSize + std::size_t{next} * kLocalLogRecordSize);
    if (!WriteAt(file.fd, bytes.data(), bytes.size(), offset)) {
        return false;
    }
    if (next >= kLocalLogSlots - 1) {
        full = 1;
        next = 0;
    } else {
        ++next;
    }
    PutLE32(header, full);
    PutLE32(header + 4, next);
    return WriteAt(file.fd, header, sizeof header, 0);
}

LocalLogContents ParseLocalLog(std::span<const std::uint8_t> bytes) {
    LocalLogContents out;
    if (bytes.size() < kLocalLogHeaderSize + kLocalLogRecordSize) {
        return out;
    }
    bytes = bytes.first(std::min(bytes.size(), kLocalLogMaxFileSize));
    out.full = LE32(bytes.data()) == 1;
    out.nextSlot = LE32(bytes.data() + 4);
    // The record size comes from the first record; anything but the one size we write
    // would misalign every record after it, so it is only accepted when it matches.
    const std::uint32_t recordSize = LE32(bytes.data() + 12);
    if (recordSize != kLocalLogRecordSize) {
        return out;
    }
    const std::size_t count = (bytes.size() - kLocalLogHeaderSize) / kLocalLogRecordSize;
    auto slot = [&](std::size_t i) {
        return LocalLogRecord::Decode(std::span<const std::uint8_t, kLocalLogRecordSize>(
            bytes.data() + kLocalLogHeaderSize + i * kLocalLogRecordSize, kLocalLogRecordSize));
    };
    if (out.full && out.nextSlot < count) {
        for (std::size_t i = out.nextSlot; i < count; ++i)
            out.records.push_back(slot(i));
        for (std::size_t i = 0; i < out.nextSlot; ++i)
            out.records.push_back(slot(i));
    } else {
        const std::size_t used = out.full ? count : std::min<std::size_t>(count, out.nextSlot);
        for (std::size_t i = 0; i < used; ++i)
            out.records.push_back(slot(i));
    }
    return out;
}

LocalLogContents ReadLocalLog(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return {};
    }
    std::vector<std::uint8_t> bytes(kLocalLogMaxFileSize);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return ParseLocalLog(bytes);
}

}  // namespace taviro::logs
