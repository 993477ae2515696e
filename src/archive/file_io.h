// The files of the local archive as plain POSIX descriptors: every read is bounded and
// says whether it got all it asked for, every write is checked to its last byte, and a
// failure keeps the system's reason for the message the user sees.
//
// Threads: one object belongs to one thread at a time (the backup writer, the player, an
// export or a verification each open their own).
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace taviro::archive {

// Owns a descriptor; closes it on destruction.
class CFile {
  public:
    CFile() = default;
    ~CFile();
    CFile(CFile&& other) noexcept;
    CFile& operator=(CFile&& other) noexcept;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // Read-only.
    static CFile OpenRead(const std::filesystem::path& path);
    // Read-write, created new: fails when the name exists (a backup never replaces a file).
    static CFile CreateNew(const std::filesystem::path& path);

    [[nodiscard]] bool IsOpen() const { return m_fd >= 0; }
    // The reason of the last failure ("No space left on device"), empty when none.
    [[nodiscard]] const std::string& Error() const { return m_error; }
    [[nodiscard]] std::uint64_t Size() const;

    // Exactly out.size() bytes at `offset`; false on a short read or an error.
    bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> out);
    // Every byte at `offset`; false when any is not written.
    bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data);
    // Two pieces back to back at `offset` (a record's header and payload) in one call.
    bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> first,
                 std::span<const std::uint8_t> second);
    bool Truncate(std::uint64_t size);
    // Writes that would reach beyond `limit` bytes write what fits and then fail with
    // `error`, as on a disk that fills up (ENOSPC) or under a file-size limit (EFBIG).
    void LimitWrites(std::uint64_t limit, int error);
    bool Sync();
    void Close();

  private:
    explicit CFile(int fd) : m_fd(fd) {}
    bool Fail();
    bool WriteAll(std::uint64_t offset, std::span<const std::uint8_t> first,
                  std::span<const std::uint8_t> second);

    int m_fd = -1;
    std::string m_error;
    std::uint64_t m_nWriteLimit = UINT64_MAX;
    int m_nLimitError = 0;
};

// The reason text of errno `error` (thread-safe).
std::string ErrorText(int error);

}  // namespace taviro::archive
