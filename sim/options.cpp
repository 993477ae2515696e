#include "sim/options.h"

#include <algorithm>
#include <functional>

#include "sim/info_file.h"

namespace taviro::sim {

namespace {

using Setter = std::function<bool(SimConfig&, std::string_view)>;

struct Option {
    std::string_view name;
    std::string_view arg;  // empty for flags
    std::string_view help;
    Setter set;
    [[nodiscard]] bool TakesValue() const { return !arg.empty(); }
};

template <typename T>
Setter Number(T SimConfig::*field, std::uint64_t max) {
    return [field, max](SimConfig& c, std::string_view v) {
        const auto n = ParseUnsigned(v, max);
        if (n) {
            c.*field = static_cast<T>(*n);
        }
        return n.has_value();
    };
}

Setter Millis(std::chrono::milliseconds SimConfig::*field) {
    return [field](SimConfig& c, std::string_view v) {
        const auto n = ParseUnsigned(v, 24ull * 3600 * 1000);
        if (n) {
            c.*field = std::chrono::milliseconds(static_cast<std::int64_t>(*n));
        }
        return n.has_value();
    };
}

Setter Version(std::uint8_t SimConfig::*major, std::uint8_t SimConfig::*minor) {
    return [major, minor](SimConfig& c, std::string_view v) {
        const auto p = ParseVersion(v);
        if (p) {
            c.*major = p->first;
            c.*minor = p->second;
        }
        return p.has_value();
    };
}

Setter Flag(bool SimConfig::*field) {
    return [field](SimConfig& c, std::string_view) {
        c.*field = true;
        return true;
    };
}

Setter Reason(std::optional<std::int32_t> SimConfig::*field) {
    return [field](SimConfig& c, std::string_view v) {
        const auto n = ParseInt32(v);
        if (n) {
            c.*field = *n;
        }
        return n.has_value();
    };
}

Setter Mask(std::uint16_t SimConfig::*field) {
    return [field](SimConfig& c, std::string_view v) {
        const auto m = ParseMask(v);
        if (m) {
            c.*field = *m;
        }
        return m.has_value();
    };
}

// An optional count (records, kilobytes), 0..2^32 - 1.
Setter Count(std::optional<std::uint32_t> SimConfig::*field) {
    return [field](SimConfig& c, std::string_view v) {
        const auto n = ParseUnsigned(v, UINT32_MAX);
        if (n) {
            c.*field = static_cast<std::uint32_t>(*n);
        }
        return n.has_value();
    };
}

Setter Text(std::string SimConfig::*field) {
    return [field](SimConfig& c, std::string_view v) {
        c.*field = std::string(v);
        return !v.empty();
    };
}

// Comma-separated bytes 0..255, at most N of them; the rest are 0.
template <std::size_t N>
Setter ByteList(std::array<std::uint8_t, N> SimConfig::*field) {
    return [field](SimConfig& c, std::string_view v) {
        std::array<std::uint8_t, N> out{};
        std::size_t n = 0;
        for (std::size_t at = 0; at <= v.size(); ++n) {
            const auto comma = std::min(v.find(',', at), v.size());
            const auto b = ParseUnsigned(v.substr(at, comma - at), 255);
            if (!b || n >= N) {
                return false;
            }
            out[n] = static_cast<std::uint8_t>(*b);
            at = comma + 1;
        }
        c.*field = out;
        return true;
    };
}

// Status devices, comma-separated: '-' for an absent one, VALUE:STATE (0..255 each) for a
// present one; devices not named are absent.
template <std::size_t N>
Setter Devices(std::array<std::uint8_t, N> SimConfig::*present,
               std::array<std::uint8_t, N> SimConfig::*value,
               std::array<std::uint8_t, N> SimConfig::*state) {
    return [=](SimConfig& c, std::string_view v) {
        std::array<std::uint8_t, N> p{}, val{}, st{};
        std::size_t n = 0;
        for (std::size_t at = 0; at <= v.size(); ++n) {
            const auto comma = std::min(v.find(',', at), v.size());
            const auto item = v.substr(at, comma - at);
            at = comma + 1;
            if (n >= N) {
                return false;
            }
            if (item == "-") {
                continue;
            }
            const auto colon = item.find(':');
            if (colon == std::string_view::npos) {
                return false;
            }
            const auto a = ParseUnsigned(item.substr(0, colon), 255);
            const auto b = ParseUnsigned(item.substr(colon + 1), 255);
            if (!a || !b) {
                return false;
            }
            p[n] = 1;
            val[n] = static_cast<std::uint8_t>(*a);
            st[n] = static_cast<std::uint8_t>(*b);
        }
        c.*present = p;
        c.*value = val;
        c.*state = st;
        return true;
    };
}

const std::vector<Option>& Options() {
    static const std::vector<Option> options = {
        {"bind", "ADDR", "address to listen on (default 127.0.0.1)",
         Text(&SimConfig::bind_address)},
        {"port", "N", "TCP port, 0 picks a free one (default 0)", Number(&SimConfig::port, 65535)},
        {"port-file", "FILE", "write the bound port there", Text(&SimConfig::port_file)},
        {"product-number", "N", "HELLO48_ACK product_number (default 11)",
         Number(&SimConfig::product_number, 255)},
        {"channels", "N", "channel_num (default 16)", Number(&SimConfig::channels, 255)},
        {"account", "N", "account level (default 0)", Number(&SimConfig::account, 255)},
        {"capabilities", "N", "capabilities byte (default 8)",
         Number(&SimConfig::capabilities, 255)},
        {"key", "HEX16", "8-byte session key as 16 hex digits",
         [](SimConfig& c, std::string_view v) {
             const auto k = ParseKey(v);
             if (k) {
                 c.key = *k;
             }
             return k.has_value();
         }},
        {"web-port", "N", "web setup port (default 80)", Number(&SimConfig::web_port, 65535)},
        {"mac", "aa:bb:cc:dd:ee:ff", "Ethernet address",
         [](SimConfig& c, std::string_view v) {
             const auto m = ParseMac(v);
             if (m) {
                 c.mac = *m;
             }
             return m.has_value();
         }},
        {"protocol-version", "MAJ.MIN", "protocol version (default 1.0)",
         Version(&SimConfig::protocol_major, &SimConfig::protocol_minor)},
        {"product-version", "MAJ.MIN", "recorder software version (default 1.0)",
         Version(&SimConfig::product_major, &SimConfig::product_minor)},
        {"front-ver", "N", "front version (default 1)", Number(&SimConfig::front_ver, 255)},
        {"firmware", "NAME=YYYY-MM-DDTHH:MM:SS", "firmware entry (repeatable, up to 20)",
         [](SimConfig& c, std::string_view v) {
             const auto f = ParseFirmware(v);
             if (f) {
                 c.firmware.push_back(*f);
             }
             return f.has_value();
         }},
        {"user", "NAME:PASSWORD[:RIGHTS]",
         "a user (repeatable); RIGHTS: all (default), none or permission rows like 0,2,6,8; "
         "without --user: admin:1234",
         [](SimConfig& c, std::string_view v) {
             const auto u = ParseUser(v);
             if (u) {
                 c.users.push_back(*u);
             }
             return u.has_value();
         }},
        {"bad-password-reason", "N", "BYE48 reason for a refused login (default 1)",
         [](SimConfig& c, std::string_view v) {
             const auto n = ParseInt32(v);
             if (n) {
                 c.bad_password_reason = *n;
             }
             return n.has_value();
         }},
        {"push-records", "", "after login push user lists, titles, camera flags and the like",
         Flag(&SimConfig::push_records)},
        {"title", "TEXT", "next channel title (repeatable, up to 16)",
         [](SimConfig& c, std::string_view v) {
             c.titles.emplace_back(v);
             return v.size() <= 32;
         }},
        {"covert", "MASK", "covert channels, bit n = channel n (default 0)",
         Mask(&SimConfig::covert)},
        {"user-lists", "WHICH", "user lists pushed: both (default), short, long or none",
         [](SimConfig& c, std::string_view v) {
             c.send_right_change = v == "both" || v == "short";
             c.send_right_change2 = v == "both" || v == "long";
             return v == "both" || v == "short" || v == "long" || v == "none";
         }},
        {"live-mask", "SLOT=MASK", "channels user SLOT may watch live (repeatable; default all)",
         [](SimConfig& c, std::string_view v) {
             const auto m = ParseLiveMask(v);
             if (m) {
                 c.live_masks.push_back(*m);
             }
             return m.has_value();
         }},
        {"cam-info", "MASK", "channels whose camera information is shown (default 0xffff)",
         Mask(&SimConfig::cam_info)},
        {"rec-status", "N", "push REC_STATUS with state N at login (below 6: recording)",
         [](SimConfig& c, std::string_view v) {
             const auto n = ParseUnsigned(v, UINT32_MAX);
             if (n) {
                 c.rec_status = static_cast<std::uint32_t>(*n);
             }
             return n.has_value();
         }},
        {"database-size", "N", "push a settings database of N bytes (DB_INFO_ACK)",
         [](SimConfig& c, std::string_view v) {
             const auto n = ParseUnsigned(v, kMaxDatabaseSize);
             if (n) {
                 c.database_size = static_cast<std::size_t>(*n);
             }
             return n.has_value();
         }},
        {"database-bad-crc", "", "push the settings database with a wrong CRC",
         Flag(&SimConfig::database_bad_crc)},
        {"live-available", "MASK", "channels with a picture (default: all)",
         [](SimConfig& c, std::string_view v) {
             const auto m = ParseMask(v);
             if (m) {
                 c.live_available = *m;
             }
             return m.has_value();
         }},
        {"no-live-stream", "", "answer live requests but send no video",
         [](SimConfig& c, std::string_view) {
             c.live_stream = false;
             return true;
         }},
        {"live-size", "WxH", "live picture size (default 704x480)",
         [](SimConfig& c, std::string_view v) {
             const auto x = v.find('x');
             if (x == std::string_view::npos)
                 return false;
             const auto w = ParseUnsigned(v.substr(0, x), 720);
             const auto h = ParseUnsigned(v.substr(x + 1), 576);
             if (!w || !h)
                 return false;
             c.live_width = static_cast<int>(*w);
             c.live_height = static_cast<int>(*h);
             return true;
         }},
        {"live-fps", "N", "live frames per second (default 30)", Number(&SimConfig::live_fps, 60)},
        {"live-gop", "N", "a key frame every N frames (default 30)",
         Number(&SimConfig::live_gop, 1000)},
        {"live-poc-step", "N", "picture order count step per frame (default 2)",
         Number(&SimConfig::live_poc_step, 511)},
        {"fragment-size", "N", "payload bytes per LIVE_DATA message (default 8000)",
         Number(&SimConfig::live_fragment_size, 65535)},
        {"dependent-start", "MASK", "channels that start with dependent frames",
         Mask(&SimConfig::live_dependent_start)},
        {"camera", "MASK",
         "channels that send camera-like live video (H.264 from libx264; default none)",
         Mask(&SimConfig::camera_channels)},
        {"video-loss", "MASK", "channels without camera signal (default 0)",
         Mask(&SimConfig::video_loss)},
        {"refuse-live", "N", "answer LIVE_REQ with LIVE_NACK reason N",
         Reason(&SimConfig::live_reason)},
        {"refuse-live-stop", "N", "answer LIVE_STOP with LIVE_STOP_NACK reason N",
         Reason(&SimConfig::live_stop_reason)},
        {"refuse-rec-on", "N", "answer REC_ON_REQ with REC_ON_NACK reason N",
         Reason(&SimConfig::rec_on_reason)},
        {"refuse-rec-off", "N", "answer REC_OFF_REQ with REC_OFF_NACK reason N",
         Reason(&SimConfig::rec_off_reason)},
        {"refuse-db-update", "N", "answer DB_UPDATE_REQ with DB_UPDATE_NACK reason N",
         Reason(&SimConfig::db_update_reason)},
        {"refuse-db-init", "N", "answer DB_INIT_REQ with DB_INIT_NACK reason N",
         Reason(&SimConfig::db_init_reason)},
        {"refuse-reboot", "N", "answer REBOOT_REQ with REBOOT_NACK reason N",
         Reason(&SimConfig::reboot_reason)},
        // Firmware upgrade.
        {"refuse-fw-update", "N", "answer FW_UPDATE_REQ with FW_UPDATE_NACK reason N",
         Reason(&SimConfig::fw_update_reason)},
        {"fail-fw-data", "N", "answer a received image with FW_DATA_RX_FAIL reason N",
         Reason(&SimConfig::fw_data_reason)},
        {"fail-fw-update", "N", "answer a received image with FW_UPDATE_FAIL reason N",
         Reason(&SimConfig::fw_result_reason)},
        {"fw-no-answer", "", "never answer FW_UPDATE_REQ", Flag(&SimConfig::fw_no_answer)},
        {"fw-ack-delay", "MS", "answer FW_UPDATE_REQ only after MS milliseconds",
         Millis(&SimConfig::fw_ack_delay)},
        {"fw-duplicate-ack", "", "send FW_UPDATE_ACK twice", Flag(&SimConfig::fw_duplicate_ack)},
        {"fw-close-mid-transfer", "", "close the connection after the first FW_DATA piece",
         Flag(&SimConfig::fw_close_mid_transfer)},
        // Two-way audio.
        {"refuse-talk", "N", "answer A_LISTEN_REQ with A_LISTEN_NACK reason N",
         Reason(&SimConfig::talk_reason)},
        {"talk-wav", "FILE", "write the client's talk audio, decoded, to this WAV file",
         Text(&SimConfig::talk_wav)},
        // Live audio.
        {"audio-channels", "MASK",
         "channels that send a live audio tone of 300 + 100 x channel Hz (default none)",
         Mask(&SimConfig::audio_channels)},
        {"audio-on", "", "send live audio before the client asks for it",
         Flag(&SimConfig::audio_on_at_start)},
        // Recordings.
        {"archive", "FILE",
         "the recordings the recorder holds instead of the built-in ones; lines 'stretch MASK "
         "continuous|event|both START END', 'flag YYYY-MM-DD', 'channel N WxH FPS [audio]', "
         "times like 2010-10-12T08:00:00",
         Text(&SimConfig::archive_file)},
        {"info-fragment-size", "N",
         "payload bytes per month, day, event, log or status answer message (default 8000)",
         Number(&SimConfig::info_fragment_size, 65535)},
        {"refuse-month", "N", "answer both month requests with their NACK reason N",
         Reason(&SimConfig::month_reason)},
        {"refuse-day", "N", "answer both day requests with their NACK reason N",
         Reason(&SimConfig::day_reason)},
        {"refuse-play", "N", "answer PLAY_ON_REQ with PLAY_ON_NACK reason N",
         Reason(&SimConfig::play_reason)},
        {"play-fail-after", "N", "after N stream elements of a playback send PLAY_ON_FAIL",
         [](SimConfig& c, std::string_view v) {
             const auto n = ParseUnsigned(v, UINT32_MAX);
             if (n) {
                 c.play_fail_after = static_cast<std::uint32_t>(*n);
             }
             return n.has_value();
         }},
        {"play-fail-code", "N", "reason of that PLAY_ON_FAIL (default 1)",
         [](SimConfig& c, std::string_view v) {
             const auto n = ParseInt32(v);
             if (n) {
                 c.play_fail_code = *n;
             }
             return n.has_value();
         }},
        // Events, log and status.
        {"info-file", "FILE",
         "events and log entries instead of the derived events and the built-in log; lines "
         "'event alarm|motion|audio|N MASK START END', 'log KIND SUBTYPE TIME PARAM [| SHORT [| "
         "DETAIL [| PARAMS-HEX [| OLD-HEX NEW-HEX]]]]'",
         Text(&SimConfig::info_file)},
        {"event-page-size", "N", "events per EVENT_INFO_ACK_BYPG page (default 20)",
         Number(&SimConfig::event_page_size, kMaxEventPageSize)},
        {"event-unpaged", "", "answer event requests with EVENT_INFO_ACK, every event at once",
         Flag(&SimConfig::event_unpaged)},
        {"refuse-event", "N", "answer EVENT_INFO_REQ with its NACK reason N",
         Reason(&SimConfig::event_reason)},
        {"log-record-size", "N",
         "bytes per remote log record and its size word (default 200; 0..4096, below 8 the "
         "records still take 8)",
         Number(&SimConfig::log_record_size, kMaxLogRecordSize)},
        {"log-records", "N", "records in the remote log (default: the entries once)",
         Count(&SimConfig::log_records)},
        {"refuse-log", "N", "answer LOG_INFO_REQ with LOG_INFO_NACK reason N",
         Reason(&SimConfig::log_reason)},
        {"log-interleave", "system|status",
         "send an unasked SYSTEM_INFO_ACK or STATUS_INFO_ACK inside the log answer",
         [](SimConfig& c, std::string_view v) {
             c.log_interleave = v == "system"   ? LogInterleave::System
                                : v == "status" ? LogInterleave::Status
                                                : LogInterleave::None;
             return v == "system" || v == "status";
         }},
        {"status-disk", "TOTAL,PART", "disk megabytes in total and in use (default 1907729,745216)",
         [](SimConfig& c, std::string_view v) {
             const auto comma = v.find(',');
             if (comma == std::string_view::npos) {
                 return false;
             }
             const auto total = ParseUnsigned(v.substr(0, comma), UINT32_MAX);
             const auto part = ParseUnsigned(v.substr(comma + 1), UINT32_MAX);
             if (!total || !part) {
                 return false;
             }
             c.status_disk_total = static_cast<std::uint32_t>(*total);
             c.status_disk_part = static_cast<std::uint32_t>(*part);
             return true;
         }},
        {"status-group-a", "LIST",
         "the four disk devices of group A: '-' absent or VALUE:STATE each (default "
         "39:1,41:1,0:2,-)",
         Devices(&SimConfig::status_a_present, &SimConfig::status_a_value,
                 &SimConfig::status_a_state)},
        {"status-group-b", "LIST", "the two devices of group B, as group A (default 12:1,-)",
         Devices(&SimConfig::status_b_present, &SimConfig::status_b_value,
                 &SimConfig::status_b_state)},
        {"status-modes", "LIST",
         "recording mode per channel, comma-separated, unnamed ones 0 (0 none, 1 continuous, 2 "
         "and 3 event)",
         ByteList(&SimConfig::status_modes)},
        {"status-short", "", "answer STATUS_INFO_REQ with the 16-byte short status",
         Flag(&SimConfig::status_short)},
        {"refuse-status", "N", "answer STATUS_INFO_REQ with STATUS_INFO_NACK reason N",
         Reason(&SimConfig::status_reason)},
        // Pan-tilt-zoom.
        {"ptz-channels", "MASK", "channels with a steerable camera (default all)",
         Mask(&SimConfig::ptz_channels)},
        // Backup.
        {"backup-size-kb", "N", "answer TRANS_ON_REQ with N kilobytes instead of the estimate",
         Count(&SimConfig::backup_size_kb)},
        {"backup-refuse", "CODE", "answer TRANS_ON_REQ with TRANS_ON_NACK code CODE",
         Reason(&SimConfig::backup_refuse)},
        {"backup-refuse-sizes", "NEEDED,AVAILABLE",
         "that refusal also names the kilobytes needed and available (code 87 when no "
         "--backup-refuse)",
         [](SimConfig& c, std::string_view v) {
             const auto comma = v.find(',');
             if (comma == std::string_view::npos) {
                 return false;
             }
             const auto needed = ParseUnsigned(v.substr(0, comma), UINT32_MAX);
             const auto available = ParseUnsigned(v.substr(comma + 1), UINT32_MAX);
             if (!needed || !available) {
                 return false;
             }
             c.backup_refuse_sizes = std::pair{static_cast<std::uint32_t>(*needed),
                                               static_cast<std::uint32_t>(*available)};
             return true;
         }},
        {"backup-fragment-size", "N", "payload bytes per TRANS_ON_DATA message (default 16384)",
         [](SimConfig& c, std::string_view v) {
             const auto n = ParseUnsigned(v, 65535);
             if (n && *n >= 1) {
                 c.backup_fragment_size = static_cast<std::uint16_t>(*n);
             }
             return n && *n >= 1;
         }},
        {"backup-rate", "KBPS", "send a backup at most this many kilobytes a second (0: no limit)",
         Number(&SimConfig::backup_rate_kbps, UINT32_MAX)},
        {"backup-fail-after", "N", "after N records of a backup send TRANS_ON_FAIL",
         Count(&SimConfig::backup_fail_after)},
        {"backup-fail-code", "N", "code of that TRANS_ON_FAIL (default 86)",
         [](SimConfig& c, std::string_view v) {
             const auto n = ParseInt32(v);
             if (n) {
                 c.backup_fail_code = *n;
             }
             return n.has_value();
         }},
        {"backup-drop-after", "N", "after N records of a backup close the connection",
         Count(&SimConfig::backup_drop_after)},
        {"backup-tamper", "N", "give the N-th watermarked frame of a backup a wrong checksum",
         [](SimConfig& c, std::string_view v) {
             const auto n = ParseUnsigned(v, UINT32_MAX);
             if (n && *n >= 1) {
                 c.backup_tamper = static_cast<std::uint32_t>(*n);
             }
             return n && *n >= 1;
         }},
        {"journal", "FILE", "JSON-lines journal of every message", Text(&SimConfig::journal_path)},
        {"once", "", "exit after the first client is done", Flag(&SimConfig::once)},
        {"verbose", "", "echo the journal to stderr", Flag(&SimConfig::verbose)},
        {"read-timeout-ms", "N", "drop a client stuck inside a message (default 30000)",
         Millis(&SimConfig::read_timeout)},
        {"close-after-seconds", "N", "close N seconds after login (fractions allowed)",
         [](SimConfig& c, std::string_view v) {
             const auto s = ParseSeconds(v);
             if (s) {
                 c.close_after = *s;
             }
             return s.has_value();
         }},
        {"close-after-messages", "N", "close after N received messages",
         [](SimConfig& c, std::string_view v) {
             const auto n = ParseUnsigned(v, UINT32_MAX);
             if (n) {
                 c.close_after_messages = static_cast<std::uint32_t>(*n);
             }
             return n.has_value();
         }},
        {"stall-mid-payload", "", "after login send half a message, then nothing",
         Flag(&SimConfig::stall_mid_payload)},
        {"send-unknown", "CODE:LENGTH", "after login send an unknown message (repeatable)",
         [](SimConfig& c, std::string_view v) {
             const auto m = ParseUnknownMessage(v);
             if (m) {
                 c.send_unknown.push_back(*m);
             }
             return m.has_value();
         }},
        {"lying-length", "", "after login send a header longer than its payload",
         Flag(&SimConfig::lying_length)},
        {"bye-reason", "N", "after login say goodbye (BYE48) with reason N",
         [](SimConfig& c, std::string_view v) {
             const auto n = ParseInt32(v);
             if (n) {
                 c.bye_reason = *n;
             }
             return n.has_value();
         }},
        {"fault-delay-ms", "N", "delay between login and the faults (default 200)",
         Millis(&SimConfig::fault_delay)},
        {"drop-after", "SECONDS",
         "reset the first client's connection N s after its login "
         "(no goodbye; fractions allowed)",
         [](SimConfig& c, std::string_view v) {
             const auto s = ParseSeconds(v);
             if (s) {
                 c.drop_after = *s;
             }
             return s.has_value();
         }},
        {"drop-every", "SECONDS", "reset every client's connection N s after its login",
         [](SimConfig& c, std::string_view v) {
             const auto s = ParseSeconds(v);
             if (s) {
                 c.drop_after = *s;
                 c.drop_repeat = true;
             }
             return s.has_value();
         }},
        {"stop-reading-after-ms", "N", "N ms after login read nothing more from the client",
         [](SimConfig& c, std::string_view v) {
             const auto n = ParseUnsigned(v, 86'400'000);
             if (n) {
                 c.stop_reading_after = std::chrono::milliseconds(*n);
             }
             return n.has_value();
         }},
        {"receive-buffer", "BYTES", "receive buffer of the listening socket",
         [](SimConfig& c, std::string_view v) {
             const auto n = ParseUnsigned(v, 1u << 24);
             if (n) {
                 c.receive_buffer = static_cast<int>(*n);
             }
             return n.has_value();
         }},
    };
    return options;
}

}  // namespace

CommandLine ParseCommandLine(std::span<const std::string_view> args) {
    CommandLine out;
    out.config.live_stream = true;  // a recorder streams what is asked for
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        if (arg == "--help" || arg == "-h") {
            out.help = true;
            continue;
        }
        if (arg == "--version") {
            out.version = true;
            continue;
        }
        if (arg.substr(0, 2) != "--") {
            out.error = "unexpected argument '" + std::string(arg) + "'";
            return out;
        }
        arg.remove_prefix(2);
        std::optional<std::string_view> value;
        if (const auto eq = arg.find('='); eq != std::string_view::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
        }
        const Option* option = nullptr;
        for (const auto& o : Options()) {
            if (o.name == arg) {
                option = &o;
            }
        }
        if (option == nullptr) {
            out.error = "unknown option --" + std::string(arg);
            return out;
        }
        if (!option->TakesValue()) {
            if (value) {
                out.error = "--" + std::string(arg) + " takes no value";
                return out;
            }
        } else if (!value) {
            if (i + 1 >= args.size()) {
                out.error = "--" + std::string(arg) + " needs a value";
                return out;
            }
            value = args[++i];
        }
        if (!option->set(out.config, value.value_or(std::string_view{}))) {
            out.error =
                "bad value '" + std::string(value.value_or("")) + "' for --" + std::string(arg);
            return out;
        }
    }
    // The info file is read here, once, so that its mistakes are told with line numbers.
    if (out.error.empty() && !LoadInfoFile(out.config, &out.error)) {
        return out;
    }
    if (out.error.empty()) {
        out.error = ValidateConfig(out.config);
    }
    return out;
}

CommandLine ParseCommandLine(int argc, const char* const* argv) {
    std::vector<std::string_view> args;
    for (int i = 1; i < argc; ++i) {
        args.emplace_back(argv[i]);
    }
    return ParseCommandLine(args);
}

std::string UsageText() {
    std::string out =
        "usage: taviro-recorder-sim [options]\n"
        "       taviro-recorder-sim --version\n"
        "Plays a networked video recorder for one client at a time.\n\n";
    for (const auto& o : Options()) {
        std::string left = "  --" + std::string(o.name);
        if (o.TakesValue()) {
            left += " " + std::string(o.arg);
        }
        left.resize(std::max<std::size_t>(left.size() + 2, 34), ' ');
        out += left + std::string(o.help) + "\n";
    }
    return out;
}

}  // namespace taviro::sim
