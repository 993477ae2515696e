// What the simulated recorder says about itself, who may log in, and which faults it plays
// on purpose. One SimConfig drives both the in-process simulator (tests) and the
// taviro-recorder-sim executable (scripts, manual runs against the desktop client).
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "protocol/hello.h"
#include "protocol/recorder_time.h"

namespace taviro::sim {

// The recorder keeps nine permission rows; each user has one byte per row (1 = allowed).
// Row 0 recording, 1 firmware and web setup, 2 search and playback, 3 backup, 4 PTZ,
// 5 covert channels, 6 and 8 must both be set or the client refuses the user, 7 unused.
inline constexpr std::size_t kRightRows = 9;
// The client keeps 27 user slots: 0..5 arrive in RIGHT_CHANGE, 6..26 in RIGHT_CHANGE2.
inline constexpr std::size_t kMaxUsers = 27;
inline constexpr std::size_t kRightChangeSlots = 6;
// User IDs and passwords travel in 16-byte fields of HELLO.
inline constexpr std::size_t kCredentialWidth = 16;

struct SimUser {
    std::string name;
    std::string password;
    // rights[row] for this user's slot; the slot is the user's index in SimConfig::users.
    std::array<std::uint8_t, kRightRows> rights{1, 1, 1, 1, 1, 1, 1, 1, 1};
};

struct FirmwareEntry {
    std::string name;  // at most 32 bytes (FirmName field width)
    protocol::RecorderTime built = 0;
};

// One event of the recorder's event search (event_service.h). `kind` 1 alarm, 2 motion,
// 7 audio; other values are kept as they are, for testing a client that meets them.
struct SimEvent {
    std::uint32_t mask = 0;  // bit n: channel n
    std::uint8_t kind = 0;
    protocol::RecorderTime start = 0;
    protocol::RecorderTime end = 0;
    bool operator==(const SimEvent&) const = default;
};

// One remote log record as the recorder keeps it (log_service.h), every field raw so that
// odd records (no kind bit, texts without a NUL) can be configured too. The number and the
// record size are given when the log is sent.
inline constexpr std::size_t kLogDetailSize = 128;
inline constexpr std::size_t kLogShortTextSize = 32;
inline constexpr std::size_t kLogParamsSize = 16;
struct SimLogEntry {
    std::uint32_t kind = 0;     // bit set: 0 power, 1 record, 2 operation, 3 client, 4 event
    std::uint32_t subType = 0;  // bit set
    protocol::RecorderTime time = 0;
    std::uint32_t param = 0;  // operation: camera number; event: bit n = channel n + 1
    std::array<std::uint8_t, kLogDetailSize> detail{};  // text; for operation sub-types
                                                        // 13..23 also the old (64..95) and
                                                        // new (96..127) setting blocks
    std::array<std::uint8_t, kLogShortTextSize> shortText{};
    std::array<std::uint8_t, kLogParamsSize> params{};
};

// What a log answer carries besides the log itself, to test that a client drops replies it
// did not ask for: nothing, an unasked SYSTEM_INFO_ACK, or a STATUS_INFO_ACK.
enum class LogInterleave { None, System, Status };

struct SimConfig {
    // Network.
    std::string bind_address = "127.0.0.1";
    std::uint16_t port = 0;  // 0 picks a free port; CRecorderSim::Port() tells which
    std::string port_file;   // when set, the bound port is written there (for scripts)

    // HELLO48_ACK fields.
    std::uint8_t protocol_major = 1;
    std::uint8_t protocol_minor = 0;
    std::uint8_t product_number = 11;  // MRKD7310
    std::uint8_t product_major = 1;
    std::uint8_t product_minor = 0;
    std::uint8_t front_ver = 1;
    std::uint8_t channels = 16;
    std::uint8_t account = 0;
    std::uint8_t capabilities = 8;
    std::array<std::uint8_t, 6> mac{0x00, 0x1C, 0x54, 0x10, 0x20, 0x30};
    std::array<std::uint8_t, 8> key{0x5A, 0x17, 0xC3, 0x08, 0x91, 0x4E, 0xB2, 0x6D};
    std::uint16_t web_port = 80;
    std::vector<FirmwareEntry> firmware;  // at most 20

    // Login. Empty means the recorder's factory account admin:1234.
    std::vector<SimUser> users;
    std::int32_t bad_password_reason = 1;

    // What the recorder pushes about itself right after login (push_records), and how it
    // answers the live and device requests. A refusal reason, when set, turns the answer
    // into the request's refusal with that reason.
    bool push_records = false;
    std::vector<std::string> titles;  // channel titles 0.. (at most 16, 32 bytes each)
    std::uint16_t covert = 0;         // bit n: channel n is covert
    // Which user lists go out: RIGHT_CHANGE (8 slots, users 0..7), RIGHT_CHANGE2 (50 slots,
    // users 6..).
    bool send_right_change = true;
    bool send_right_change2 = true;
    // Live permission per user slot (bit n: channel n); slots not named may watch all.
    std::vector<std::pair<std::size_t, std::uint16_t>> live_masks;
    std::uint16_t cam_info = 0xFFFF;          // bit n: the camera information of n is shown
    std::optional<std::uint32_t> rec_status;  // REC_STATUS word 1 pushed at login
    std::size_t database_size = 0;            // 0: no DB_INFO_ACK
    bool database_bad_crc = false;
    // Live video for the requested channels while live view is on: the camera test
    // pattern in genuine H.264 (lossless I_PCM key frames, skipped unchanged macroblocks).
    // The program streams by default; in-process tests switch it on when they want it.
    bool live_stream = false;
    int live_width = 704;
    int live_height = 480;
    int live_fps = 30;
    int live_gop = 30;
    int live_poc_step = 2;
    std::uint16_t live_fragment_size = 8000;
    std::uint16_t live_dependent_start = 0;       // channels that start with dependent frames
    std::optional<std::uint16_t> live_available;  // default: every channel of the recorder
    std::uint16_t video_loss = 0;
    // Channels whose live video is camera-like (a moving scene encoded by libx264 into a
    // loop when the simulator starts) instead of the test pattern.
    std::uint16_t camera_channels = 0;
    std::optional<std::int32_t> live_reason;
    std::optional<std::int32_t> live_stop_reason;
    std::optional<std::int32_t> rec_on_reason;
    std::optional<std::int32_t> rec_off_reason;
    std::optional<std::int32_t> db_update_reason;
    std::optional<std::int32_t> db_init_reason;
    std::optional<std::int32_t> reboot_reason;

    // Firmware upgrade (firmware_service.h): FW_UPDATE_REQ is accepted unless
    // fw_update_reason is set (FW_UPDATE_NACK); the image's pieces are collected and their
    // length and CRC-32 journalled; FW_DATA_RX_FAIL / FW_UPDATE_FAIL with these reasons
    // instead of success. Scripted faults: no answer at all, the acknowledgement only after
    // fw_ack_delay, sent twice, or the connection closed after the first piece.
    std::optional<std::int32_t> fw_update_reason;
    std::optional<std::int32_t> fw_data_reason;
    std::optional<std::int32_t> fw_result_reason;
    bool fw_no_answer = false;
    std::chrono::milliseconds fw_ack_delay{0};
    bool fw_duplicate_ack = false;
    bool fw_close_mid_transfer = false;

    // Two-way audio. A_LISTEN_REQ is accepted unless talk_reason is set (then A_LISTEN_NACK
    // with that reason); the client's A_LISTEN_DATA is decoded and, when talk_wav names a
    // file, written there as 16-bit, 2-channel, 8,000 frames/s PCM.
    std::optional<std::int32_t> talk_reason;
    std::string talk_wav;

    // Live audio. While live view runs and the client has switched audio on
    // (AUDIO_ONOFF_REQ with audioOn), the channels of audio_channels that the client watches
    // send a tone each: sine at 300 + 100 x channel Hz (channel 0..15: 300..1,800 Hz), G.726
    // encoded, 125 blocks a second. The client plays every two decoded samples as one stereo
    // frame at 8,000 frames per second, so the tone is generated at 16,000 samples a second
    // and sounds at exactly that frequency on both sides.
    std::uint16_t audio_channels = 0;
    // The tone's peak (16-bit linear).
    std::int16_t audio_amplitude = 8000;
    // Live audio is on from the start (a recorder configured to push audio), not only after
    // the client's AUDIO_ONOFF_REQ.
    bool audio_on_at_start = false;

    // Recordings (archive.h): what the recorder holds, its month and day answers (both the
    // playback and the backup side) and remote playback. A refusal reason, when set, turns
    // the answer into the request's refusal with that reason.
    std::string archive_file;  // empty: the default archive
    // Payload bytes per message of the month, day, event, log and status answers (any
    // split, not aligned to records).
    std::uint16_t info_fragment_size = 8000;
    std::optional<std::int32_t> month_reason;
    std::optional<std::int32_t> day_reason;
    std::optional<std::int32_t> play_reason;
    // After this many stream elements of one playback, PLAY_ON_FAIL with play_fail_code.
    std::optional<std::uint32_t> play_fail_after;
    std::int32_t play_fail_code = 1;

    // Backup (backup_service.h): the capacity answer to TRANS_ON_REQ and the transfer that
    // TRANS_DATA_REQ starts.
    // Kilobytes to answer instead of the estimate of the range.
    std::optional<std::uint32_t> backup_size_kb;
    // TRANS_ON_NACK with this code instead of the size; with backup_refuse_sizes the refusal
    // also names the kilobytes needed and available (12 bytes; the recorder uses it with
    // code 87, which is what it carries when no code is set).
    std::optional<std::int32_t> backup_refuse;
    std::optional<std::pair<std::uint32_t, std::uint32_t>> backup_refuse_sizes;
    // Payload bytes per TRANS_ON_DATA message (at least 1).
    std::uint16_t backup_fragment_size = 16384;
    // Kilobytes of records per second at most, 0 for as fast as the client reads.
    std::uint32_t backup_rate_kbps = 0;
    // After this many records, TRANS_ON_FAIL with backup_fail_code and the transfer ends.
    std::optional<std::uint32_t> backup_fail_after;
    std::int32_t backup_fail_code = 86;
    // After this many records the connection is closed.
    std::optional<std::uint32_t> backup_drop_after;
    // The N-th frame carrying a watermark checksum (1-based, over the whole transfer) gets
    // a wrong one.
    std::optional<std::uint32_t> backup_tamper;

    // Event search (event_service.h): EVENT_INFO_REQ for one kind and page. The events are
    // these when given, else derived from the archive. Answers are paged
    // (EVENT_INFO_ACK_BYPG, event_page_size records a page) unless event_unpaged
    // (EVENT_INFO_ACK with every event of the kind); event_reason refuses with the NACK of
    // the form in use.
    std::optional<std::vector<SimEvent>> events;
    std::uint32_t event_page_size = 20;
    bool event_unpaged = false;
    std::optional<std::int32_t> event_reason;

    // Remote log (log_service.h): LOG_INFO_REQ is answered with log_records records (default:
    // one pass over the entries) of log_record_size bytes each, taken in turn from
    // log_entries or, when not given, the built-in log. Every record states
    // log_record_size in its size word and occupies that many bytes (cut short, or zero
    // beyond the 200 bytes of the record), except that sizes below 8 cannot hold their own
    // size word: such records still occupy 8 bytes.
    std::optional<std::vector<SimLogEntry>> log_entries;
    std::uint32_t log_record_size = 200;
    std::optional<std::uint32_t> log_records;
    std::optional<std::int32_t> log_reason;
    LogInterleave log_interleave = LogInterleave::None;

    // Status (status_service.h): the StatusInfo answer to STATUS_INFO_REQ, or its 16-byte
    // short form (reserved words and the two disk figures only).
    std::uint32_t status_disk_total = 1'907'729;  // megabytes
    std::uint32_t status_disk_part = 745'216;     // megabytes in use
    std::array<std::uint8_t, 4> status_a_present{1, 1, 1, 0};
    std::array<std::uint8_t, 4> status_a_value{39, 41, 0, 0};
    std::array<std::uint8_t, 4> status_a_state{1, 1, 2, 0};  // 0 none, 1 normal, 2 error
    std::array<std::uint8_t, 2> status_b_present{1, 0};
    std::array<std::uint8_t, 2> status_b_value{12, 0};
    std::array<std::uint8_t, 2> status_b_state{1, 0};
    // Per channel: 0 not recording, 1 continuous, 2 and 3 event.
    std::array<std::uint8_t, 16> status_modes{1, 1, 1, 1, 2, 2, 3, 1, 0, 1, 1, 2, 1, 1, 0, 1};
    bool status_short = false;
    std::optional<std::int32_t> status_reason;

    // Pan-tilt-zoom (ptz_service.h): bit n set when channel n has a steerable camera.
    std::uint16_t ptz_channels = 0xFFFF;

    // A text file of events and log entries (info_file.h). Only the command line reads it,
    // into `events` and `log_entries`; the simulator itself never opens it.
    std::string info_file;

    // Journal and run mode.
    std::string journal_path;  // empty: the journal is kept in memory only
    bool once = false;         // serve one client, then stop accepting
    bool verbose = false;      // echo the journal to stderr

    // How long one message may take to arrive once its first byte is there; a client that
    // stalls in the middle of a message is dropped after this.
    std::chrono::milliseconds read_timeout{30'000};

    // Scripted faults. close_after counts from a successful login; close_after_messages
    // counts every received message, HELLO included (the Nth is still answered). The others
    // fire once per connection, fault_delay after login, in this order: the unknown
    // messages, the lying length, then either the stall (after which nothing more is sent)
    // or the goodbye.
    std::optional<std::chrono::milliseconds> close_after;
    std::optional<std::uint32_t> close_after_messages;
    bool stall_mid_payload = false;
    struct UnknownMessage {
        std::uint16_t code = 0;
        std::uint16_t length = 0;
    };
    std::vector<UnknownMessage> send_unknown;
    bool lying_length = false;
    std::optional<std::int32_t> bye_reason;
    std::chrono::milliseconds fault_delay{200};
    // The network breaks under a logged-in client this long after its login: the connection
    // is reset, no goodbye, while the recorder goes on accepting new connections. Only the
    // first connection it happens to, unless drop_repeat: then every connection, each this
    // long after its own login (soak tests of a client that comes back).
    std::optional<std::chrono::milliseconds> drop_after;
    bool drop_repeat = false;
    // This long after login the recorder reads nothing more from the client (its network
    // stack wedged), while it goes on sending; the client's sends pile up and then wait.
    std::optional<std::chrono::milliseconds> stop_reading_after;
    // The listening socket's receive buffer in bytes (0: the system's), so that a recorder
    // that stops reading fills up at once.
    int receive_buffer = 0;
};

inline constexpr std::size_t kMaxFirmwareEntries = protocol::kFirmwareEntries;
inline constexpr std::size_t kMaxUnknownMessages = 64;
// The live permission record holds 58 user slots of 16 channels.
inline constexpr std::size_t kLivePermissionSlots = 58;
// The simulated settings database fits one DB_UPDATE_REQ (CRC and database, 65,535 bytes).
inline constexpr std::size_t kMaxDatabaseSize = 65'531;
// Bounds of the event search and the log: the client keeps 100,000 events, and a log
// answer beyond these is no longer a test of anything but memory.
inline constexpr std::size_t kMaxEvents = 100'000;
inline constexpr std::size_t kMaxEventPageSize = 100'000;
inline constexpr std::size_t kMaxLogRecords = 100'000;
inline constexpr std::size_t kMaxLogRecordSize = 4096;
inline constexpr std::size_t kMaxLogBytes = 32u << 20;

// The users the recorder accepts: the configured list, or admin:1234 with every right.
std::vector<SimUser> EffectiveUsers(const SimConfig& config);

// The login answer for this configuration (the fields above, everything else zero).
protocol::HelloAck BuildHelloAck(const SimConfig& config);

// Field parsers shared by the command line and tests. Each returns nullopt for text that
// does not match its form exactly (no trailing junk, values in range).
std::optional<std::array<std::uint8_t, 6>> ParseMac(std::string_view text);  // aa:bb:..:ff
std::optional<std::array<std::uint8_t, 8>> ParseKey(std::string_view text);  // 16 hex digits
std::optional<std::pair<std::uint8_t, std::uint8_t>> ParseVersion(std::string_view text);
// "YYYY-MM-DDTHH:MM:SS" read as UTC (the recorder's wall clock), 1970..2037.
std::optional<protocol::RecorderTime> ParseRecorderTime(std::string_view text);
std::optional<FirmwareEntry> ParseFirmware(std::string_view text);  // NAME=TIME
// NAME:PASSWORD[:RIGHTS]; RIGHTS is "all", "none" or a comma list of rows 0..8.
std::optional<SimUser> ParseUser(std::string_view text);
std::optional<std::array<std::uint8_t, kRightRows>> ParseRights(std::string_view text);
std::optional<SimConfig::UnknownMessage> ParseUnknownMessage(std::string_view text);
// A 16-bit channel mask, decimal or 0x-prefixed hexadecimal.
std::optional<std::uint16_t> ParseMask(std::string_view text);
// SLOT=MASK: the live permission of one user slot.
std::optional<std::pair<std::size_t, std::uint16_t>> ParseLiveMask(std::string_view text);

// Unsigned decimal in [0, max]; nullopt otherwise.
std::optional<std::uint64_t> ParseUnsigned(std::string_view text, std::uint64_t max);
std::optional<std::int32_t> ParseInt32(std::string_view text);
// Non-negative seconds with an optional fraction ("2", "0.25"), to milliseconds.
std::optional<std::chrono::milliseconds> ParseSeconds(std::string_view text);

// Checks the parts that only make sense together (user count, duplicate names, firmware
// count). Empty when the configuration is usable, else the reason.
std::string ValidateConfig(const SimConfig& config);

// Days from 1970-01-01 to a civil date (proleptic Gregorian, month and day 1-based), so
// the simulator's times (firmware dates, the archive) do not depend on its zone.
std::int64_t DaysFromCivil(int year, int month, int day);

}  // namespace taviro::sim
