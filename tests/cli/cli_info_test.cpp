// taviro-cli events, logs, local-log and status end to end against the simulated recorder:
// the JSON lines scripts rely on (event pages, log rows newest first, status texts as the
// window shows them), odd record sizes, unasked replies inside the log, refusals, the row
// limit, CSV and PDF output, and the client's own ring log.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>

#include "logs/local_log.h"
#include "sim/archive.h"
#include "sim/event_service.h"
#include "sim/log_service.h"
#include "sim/recorder_sim.h"
#include "support/run_program.h"
#include "support/sanitizer_time.h"

namespace taviro::cli {
namespace {

using namespace std::chrono_literals;

std::vector<std::string> Lines(const std::string& text, const std::string& event) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end == std::string::npos ? end : end - at);
        if (line.find("\"event\":\"" + event + "\"") != std::string::npos)
            out.push_back(line);
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    return out;
}

// The value of `key` in one flat JSON line: a string's text (escapes left as they are) or
// a number's digits.
std::string Field(const std::string& line, const std::string& key) {
    const std::string tag = "\"" + key + "\":";
    const std::size_t at = line.find(tag);
    if (at == std::string::npos)
        return "<missing " + key + ">";
    std::size_t i = at + tag.size();
    if (i < line.size() && line[i] == '"') {
        std::string out;
        for (++i; i < line.size() && line[i] != '"'; ++i) {
            if (line[i] == '\\' && i + 1 < line.size())
                out += line[i++];
            out += line[i];
        }
        return out;
    }
    return line.substr(i, line.find_first_of(",}", i) - i);
}

std::string IsoTime(std::int64_t seconds) {
    const std::time_t t = seconds;
    std::tm tm{};
    ::gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm);
    return text;
}

std::string EventLine(const std::string& kind, int number, const sim::SimEvent& e) {
    std::string channels;
    for (int ch = 0; ch < 32; ++ch) {
        if ((e.mask >> ch) & 1u)
            channels += (channels.empty() ? "" : ",") + std::to_string(ch + 1);
    }
    return "{\"event\":\"event\",\"kind\":\"" + kind + "\",\"number\":" + std::to_string(number) +
           ",\"channels\":[" + channels + "],\"start\":\"" + IsoTime(e.start) + "\",\"end\":\"" +
           IsoTime(e.end) + "\"}";
}

std::string PageLine(int current, int last) {
    return "{\"event\":\"page\",\"current\":" + std::to_string(current) +
           ",\"last\":" + std::to_string(last) + "}";
}

std::string StatusLine(const std::string& page, const std::string& name, const std::string& value,
                       const std::string& detail = {}) {
    return "{\"event\":\"status\",\"page\":\"" + page + "\",\"name\":\"" + name +
           "\",\"value\":\"" + value + "\"" +
           (detail.empty() ? std::string() : ",\"detail\":\"" + detail + "\"") + "}";
}

// The first line of this event, or empty.
std::string FirstLine(const std::string& text, const std::string& event) {
    const auto lines = Lines(text, event);
    return lines.empty() ? std::string() : lines.front();
}

// The status lines of one page ("system" or "status").
std::vector<std::string> PageRows(const std::string& text, const std::string& page) {
    std::vector<std::string> out;
    for (const auto& line : Lines(text, "status")) {
        if (Field(line, "page") == page)
            out.push_back(line);
    }
    return out;
}

std::vector<sim::SimEvent> OfKind(const std::vector<sim::SimEvent>& events, std::uint8_t kind) {
    std::vector<sim::SimEvent> out;
    std::copy_if(events.begin(), events.end(), std::back_inserter(out),
                 [&](const sim::SimEvent& e) { return e.kind == kind; });
    return out;
}

std::vector<std::string> Filtered(const std::vector<std::string>& rows, const std::string& kind) {
    std::vector<std::string> out;
    std::copy_if(rows.begin(), rows.end(), std::back_inserter(out),
                 [&](const std::string& row) { return Field(row, "kind") == kind; });
    return out;
}

std::string ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// pdftotext from the PATH, or empty.
std::string FindPdfToText() {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const auto candidate = std::filesystem::path(dir) / "pdftotext";
        if (!dir.empty() && ::access(candidate.c_str(), X_OK) == 0)
            return candidate.string();
    }
    return {};
}

// The summary line of a build without PDF output.
bool NoPdfOutput(const testing::ProgramResult& result) {
    return result.out.find("no PDF output") != std::string::npos ||
           result.err.find("no PDF output") != std::string::npos;
}

class CliInfoTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() /
                ("taviro-info-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    testing::ProgramResult RunCli(const std::vector<std::string>& args) {
        return testing::RunProgram(testing::BuiltProgram("src/cli/taviro-cli"), args,
                                   120s * testing::kSanitizerSlowdown);
    }
    testing::ProgramResult Run(const std::string& command, std::uint16_t port,
                               std::vector<std::string> extra) {
        std::vector<std::string> args = {
            command, "--host",     "127.0.0.1", "--port",    std::to_string(port),    "--user",
            "admin", "--password", "1234",      "--storage", (m_dir / "st").string(), "--json"};
        args.insert(args.end(), extra.begin(), extra.end());
        return RunCli(args);
    }
    // One run against a recorder of this configuration.
    testing::ProgramResult RunAgainst(const sim::SimConfig& config, const std::string& command,
                                      std::vector<std::string> extra) {
        sim::CRecorderSim recorder(config);
        if (!recorder.Start()) {
            ADD_FAILURE() << recorder.LastError();
            return {};
        }
        return Run(command, recorder.Port(), std::move(extra));
    }

    std::filesystem::path m_dir;
};

TEST_F(CliInfoTest, EventPagesAsScriptsReadThem) {
    const sim::SimConfig config;
    sim::CRecorderSim recorder(config);
    ASSERT_TRUE(recorder.Start()) << recorder.LastError();
    const auto events = sim::DeriveEvents(sim::DefaultArchive(config));
    const auto motion = OfKind(events, sim::kEventKindMotion);
    const auto alarms = OfKind(events, sim::kEventKindAlarm);
    ASSERT_EQ(motion.size(), 51u);  // three pages of 20
    ASSERT_EQ(alarms.size(), 28u);  // two pages

    // Page 1 of motion: 20 events numbered 1..20 with their channels and times.
    auto result = Run("events", recorder.Port(), {"--kind", "motion"});
    ASSERT_EQ(result.exitStatus, 0) << result.err << result.out;
    auto lines = Lines(result.out, "event");
    ASSERT_EQ(lines.size(), 20u) << result.out;
    EXPECT_EQ(
        lines[0],
        R"({"event":"event","kind":"motion","number":1,"channels":[1],"start":"2010-10-12T08:00:30","end":"2010-10-12T08:00:50"})");
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i], EventLine("motion", static_cast<int>(i) + 1, motion[i]));
    EXPECT_EQ(Lines(result.out, "page"), std::vector<std::string>{PageLine(1, 3)});

    // Page 2: the next 20 events, numbered within the page as the window's list numbers them.
    result = Run("events", recorder.Port(), {"--kind", "motion", "--page", "2"});
    ASSERT_EQ(result.exitStatus, 0) << result.err << result.out;
    lines = Lines(result.out, "event");
    ASSERT_EQ(lines.size(), 20u) << result.out;
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i], EventLine("motion", static_cast<int>(i) + 1, motion[20 + i]));
    EXPECT_EQ(Lines(result.out, "page"), std::vector<std::string>{PageLine(2, 3)});

    // Every page: each page's events, one page line per page, all 51 events in order.
    result = Run("events", recorder.Port(), {"--kind", "motion", "--all-pages"});
    ASSERT_EQ(result.exitStatus, 0) << result.err << result.out;
    lines = Lines(result.out, "event");
    ASSERT_EQ(lines.size(), motion.size()) << result.out;
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i], EventLine("motion", static_cast<int>(i % 20) + 1, motion[i]));
    EXPECT_EQ(Lines(result.out, "page"),
              (std::vector<std::string>{PageLine(1, 3), PageLine(2, 3), PageLine(3, 3)}));

    // Alarms name two channels: the arrays list both, ascending.
    result = Run("events", recorder.Port(), {"--kind", "alarm", "--page", "2"});
    ASSERT_EQ(result.exitStatus, 0) << result.err << result.out;
    lines = Lines(result.out, "event");
    ASSERT_EQ(lines.size(), 8u) << result.out;
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i], EventLine("alarm", static_cast<int>(i) + 1, alarms[20 + i]));
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return std::regex_search(line, std::regex(R"("channels":\[\d+,\d+\])"));
    })) << result.out;
    EXPECT_EQ(Lines(result.out, "page"), std::vector<std::string>{PageLine(2, 2)});
}

TEST_F(CliInfoTest, UnpagedAnswersRefusalsAndUsageErrors) {
    const auto audio =
        OfKind(sim::DeriveEvents(sim::DefaultArchive(sim::SimConfig{})), sim::kEventKindAudio);
    sim::SimConfig unpaged;
    unpaged.event_unpaged = true;
    unpaged.info_fragment_size = 50;  // records split across messages
    {
        sim::CRecorderSim recorder(unpaged);
        ASSERT_TRUE(recorder.Start()) << recorder.LastError();
        for (const char* pages : {"--page", "--all-pages"}) {
            std::vector<std::string> extra = {"--kind", "audio", pages};
            if (std::string(pages) == "--page")
                extra.push_back("1");
            const auto result = Run("events", recorder.Port(), extra);
            ASSERT_EQ(result.exitStatus, 0) << result.err << result.out;
            const auto lines = Lines(result.out, "event");
            ASSERT_EQ(lines.size(), audio.size()) << pages << "\n" << result.out;
            for (std::size_t i = 0; i < lines.size(); ++i)
                EXPECT_EQ(lines[i], EventLine("audio", static_cast<int>(i) + 1, audio[i]));
            EXPECT_EQ(Lines(result.out, "page"), std::vector<std::string>{PageLine(1, 1)}) << pages;
        }
    }

    // Refusals in both forms: notified, no events, no page, a failure exit with the reason.
    const struct {
        bool unpaged;
        std::int32_t reason;
        const char* notify;
        const char* why;
    } refusals[] = {
        {false, 83, R"({"event":"notify","category":4,"code":0})", "the recorder is busy"},
        {true, 53, R"({"event":"notify","category":6,"code":4})",
         "the recorder refused the request"},
    };
    for (const auto& r : refusals) {
        sim::SimConfig config;
        config.event_unpaged = r.unpaged;
        config.event_reason = r.reason;
        const auto result = RunAgainst(config, "events", {"--kind", "alarm"});
        EXPECT_EQ(result.exitStatus, 1) << r.reason << result.out;
        EXPECT_EQ(FirstLine(result.out, "notify"), r.notify) << result.out;
        EXPECT_TRUE(Lines(result.out, "event").empty()) << result.out;
        EXPECT_TRUE(Lines(result.out, "page").empty()) << result.out;
        EXPECT_NE(result.out.find(std::string("\"reason\":\"") + r.why + "\""), std::string::npos)
            << result.out;
    }

    // Usage errors are caught before any connection (nothing listens on port 9).
    for (const auto& extra :
         std::vector<std::vector<std::string>>{{"--kind", "bogus"},
                                               {},
                                               {"--kind", "motion", "--page", "2", "--all-pages"},
                                               {"--kind", "motion", "--page", "0"},
                                               {"--kind", "motion", "--page", "x"}}) {
        const auto result = Run("events", 9, extra);
        EXPECT_EQ(result.exitStatus, 2) << result.err;
        EXPECT_TRUE(Lines(result.out, "event").empty());
    }
}

TEST_F(CliInfoTest, LogViewsNewestFirst) {
    sim::CRecorderSim recorder(sim::SimConfig{});
    ASSERT_TRUE(recorder.Start()) << recorder.LastError();
    const auto entries = sim::DefaultLog();
    ASSERT_EQ(entries.size(), 53u);

    auto result = Run("logs", recorder.Port(), {});
    ASSERT_EQ(result.exitStatus, 0) << result.err << result.out;
    const auto all = Lines(result.out, "log");
    ASSERT_EQ(all.size(), 53u) << result.out;
    const std::regex shape(
        R"re(\{"event":"log","number":(\d+),"time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d","kind":"(Power|Record|Operation|Client|Event)","subtype":"[^"]*","short":"[^"]*","detail":"[^"]*"\})re");
    const char* const kKinds[] = {"Power", "Record", "Operation", "Client", "Event"};
    for (std::size_t i = 0; i < all.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(all[i], m, shape)) << all[i];
        // Newest first: the recorder numbers its records oldest first, 1..53.
        EXPECT_EQ(std::stoi(m[1]), static_cast<int>(53 - i)) << all[i];
        const sim::SimLogEntry& entry = entries[52 - i];
        EXPECT_EQ(m[2].str(), kKinds[std::countr_zero(entry.kind)]) << all[i];
        EXPECT_EQ(Field(all[i], "time"), IsoTime(entry.time)) << all[i];
    }
    // Channels 1 and 16 of an event, each followed by a blank.
    EXPECT_EQ(
        all[53 - 32],
        R"({"event":"log","number":32,"time":"2010-10-12T08:47:30","kind":"Event","subtype":"Motion","short":"Motion","detail":"01 16 "})");
    // Power shows its detail only for a power-off record; setup sub-types 2 and 8 never.
    EXPECT_EQ(
        all[0],
        R"({"event":"log","number":53,"time":"2010-10-13T18:30:00","kind":"Power","subtype":"Power failure","short":"admin","detail":""})");
    EXPECT_EQ(Field(all[53 - 43], "detail"), "Power restored after 00:02:51");
    EXPECT_EQ(Field(all[53 - 25], "subtype"), "Factory default");
    EXPECT_EQ(Field(all[53 - 25], "detail"), "");
    EXPECT_EQ(Field(all[53 - 21], "detail"), "");
    // Per-camera setup texts carry the camera number (only shown while logged in).
    EXPECT_EQ(Field(all[53 - 7], "subtype"), " Cam03 Name");
    EXPECT_EQ(Field(all[53 - 14], "subtype"), " Cam02 Actione");

    // The kind views are the matching rows of the All view, in the same order.
    for (const auto& [view, kind] : std::vector<std::pair<std::string, std::string>>{
             {"operation", "Operation"}, {"event", "Event"}, {"power", "Power"}}) {
        result = Run("logs", recorder.Port(), {"--view", view});
        ASSERT_EQ(result.exitStatus, 0) << result.err << result.out;
        const auto rows = Lines(result.out, "log");
        EXPECT_EQ(rows, Filtered(all, kind)) << view;
        EXPECT_FALSE(rows.empty()) << view;
    }
    // The archive view: setup records of sub-type 9, newest first.
    result = Run("logs", recorder.Port(), {"--view", "archive"});
    ASSERT_EQ(result.exitStatus, 0) << result.err << result.out;
    std::vector<std::string> numbers;
    for (const auto& row : Lines(result.out, "log"))
        numbers.push_back(Field(row, "number"));
    EXPECT_EQ(numbers, (std::vector<std::string>{"51", "50", "45", "35"})) << result.out;

    result = Run("logs", recorder.Port(), {"--view", "setup"});
    EXPECT_EQ(result.exitStatus, 2) << result.err;
}

TEST_F(CliInfoTest, LogRecordSizesUnaskedRepliesLimitAndRefusal) {
    const auto base = RunAgainst(sim::SimConfig{}, "logs", {});
    ASSERT_EQ(base.exitStatus, 0) << base.err << base.out;
    const auto expected = Lines(base.out, "log");
    ASSERT_EQ(expected.size(), 53u);

    // Records cut to 184 bytes or padded to 256 list the same rows; an unasked system or
    // status reply in the middle of the log is not part of it.
    struct Variant {
        const char* name;
        std::uint32_t size = 200;
        sim::LogInterleave interleave = sim::LogInterleave::None;
        std::uint16_t fragment = 8000;
    };
    for (const Variant& v : {Variant{"size 184", 184}, Variant{"size 256", 256},
                             Variant{"status inside", 200, sim::LogInterleave::Status},
                             Variant{"system inside", 200, sim::LogInterleave::System, 333},
                             Variant{"status, 256", 256, sim::LogInterleave::Status, 1000}}) {
        sim::SimConfig config;
        config.log_record_size = v.size;
        config.log_interleave = v.interleave;
        config.info_fragment_size = v.fragment;
        const auto result = RunAgainst(config, "logs", {});
        ASSERT_EQ(result.exitStatus, 0) << v.name << "\n" << result.err << result.out;
        EXPECT_EQ(Lines(result.out, "log"), expected) << v.name;
        EXPECT_TRUE(Lines(result.out, "status").empty()) << v.name;
    }

    // A record size that cannot hold the record's words fails cleanly, with a reason.
    for (const std::uint32_t size : {0u, 20u}) {
        sim::SimConfig config;
        config.log_record_size = size;
        const auto result = RunAgainst(config, "logs", {});
        EXPECT_EQ(result.exitStatus, 1) << size << result.err << result.out;
        EXPECT_TRUE(Lines(result.out, "log").empty()) << size;
        const auto summary = Lines(result.out, "summary");
        ASSERT_EQ(summary.size(), 1u) << result.out;
        EXPECT_NE(Field(summary[0], "reason").find("record size " + std::to_string(size)),
                  std::string::npos)
            << summary[0];
    }

    // 2,600 records: the first 2,500 are listed, newest first, and the rest reported.
    sim::SimConfig many;
    many.log_records = 2600;
    auto result = RunAgainst(many, "logs", {});
    ASSERT_EQ(result.exitStatus, 0) << result.err << result.out;
    const auto rows = Lines(result.out, "log");
    ASSERT_EQ(rows.size(), 2500u);
    for (std::size_t i = 0; i < rows.size(); ++i)
        ASSERT_EQ(Field(rows[i], "number"), std::to_string(2500 - i)) << rows[i];
    EXPECT_EQ(rows.back(), expected.back());
    EXPECT_NE(result.err.find("100 records"), std::string::npos) << result.err;

    // Refusals: notified, no rows, a failure exit.
    for (const auto& [reason, notify] : std::vector<std::pair<std::int32_t, std::string>>{
             {83, R"({"event":"notify","category":4,"code":0})"},
             {86, R"({"event":"notify","category":6,"code":3})"}}) {
        sim::SimConfig config;
        config.log_reason = reason;
        result = RunAgainst(config, "logs", {});
        EXPECT_EQ(result.exitStatus, 1) << reason << result.out;
        EXPECT_EQ(FirstLine(result.out, "notify"), notify) << result.out;
        EXPECT_TRUE(Lines(result.out, "log").empty()) << result.out;
    }
}

TEST_F(CliInfoTest, LogSavedAsCsvAndPrintedAsPdf) {
    sim::CRecorderSim recorder(sim::SimConfig{});
    ASSERT_TRUE(recorder.Start()) << recorder.LastError();
    const auto csv = m_dir / "log.csv";
    const auto pdf = m_dir / "log.pdf";
    const auto result = Run("logs", recorder.Port(),
                            {"--view", "all", "--csv", csv.string(), "--pdf", pdf.string()});
    EXPECT_EQ(Lines(result.out, "log").size(), 53u) << result.out;

    // The header and one line per row, every line ended by CR LF; cells with commas quoted.
    const std::string text = ReadFile(csv);
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (std::size_t end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(text.substr(at, end - at));
    EXPECT_EQ(at, text.size()) << "text after the last CR LF";
    ASSERT_EQ(lines.size(), 54u) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 54);
    EXPECT_EQ(lines[0], "No.,Time,Type,Name,Detail");
    EXPECT_EQ(lines[1], "00053,2010-10-13 18:30:00,Power failure,admin,");
    EXPECT_EQ(lines[1 + 53 - 32], "00032,2010-10-12 08:47:30,Motion,Motion,01 16 ");
    EXPECT_EQ(lines[1 + 53 - 5],
              "00005,2010-10-11 08:14:02,Logged in,admin,"
              "\"IP 192.168.1.100, mask 255.255.255.0, gateway 192.168.1.1\"");

    if (NoPdfOutput(result))
        GTEST_SKIP() << "this taviro-cli has no PDF output";
    ASSERT_EQ(result.exitStatus, 0) << result.err << result.out;
    const std::string pdfToText = FindPdfToText();
    if (pdfToText.empty())
        GTEST_SKIP() << "pdftotext is not installed";
    EXPECT_EQ(ReadFile(pdf).substr(0, 5), "%PDF-");
    const auto shown = testing::RunProgram(pdfToText, {"-raw", pdf.string(), "-"},
                                           60s * testing::kSanitizerSlowdown);
    ASSERT_EQ(shown.exitStatus, 0) << shown.err;
    // 53 rows: 33 on the first page, 20 on the second.
    EXPECT_NE(shown.out.find("- 1 / 2 -"), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("- 2 / 2 -"), std::string::npos) << shown.out;
    EXPECT_EQ(shown.out.find("/ 3 -"), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("Remote Log"), std::string::npos);
    EXPECT_NE(shown.out.find("Archive to DVD-R"), std::string::npos);
    EXPECT_NE(shown.out.find("2010-10-12 08:47:30"), std::string::npos);
}

TEST_F(CliInfoTest, StatusTextsAsTheWindowShowsThem) {
    sim::SimConfig config;
    for (int k = 0; k < 7; ++k) {
        config.firmware.push_back(
            {"F" + std::to_string(k),
             *sim::ParseRecorderTime("2010-0" + std::to_string(k + 1) + "-1" + std::to_string(k) +
                                     "T0" + std::to_string(k) + ":3" + std::to_string(k) + ":00")});
    }
    config.info_fragment_size = 7;  // the status in eight pieces
    sim::CRecorderSim recorder(config);
    ASSERT_TRUE(recorder.Start()) << recorder.LastError();
    auto result = Run("status", recorder.Port(), {});
    ASSERT_EQ(result.exitStatus, 0) << result.err << result.out;

    EXPECT_EQ(PageRows(result.out, "system"),
              (std::vector<std::string>{
                  StatusLine("system", "Address", "127.0.0.1"),
                  StatusLine("system", "Port", std::to_string(recorder.Port())),
                  StatusLine("system", "Description", ""),
                  StatusLine("system", "MAC address", "00:1C:54:10:20:30"),
                  // Firmware entries 0, 3, 4, 2, 5 and 6; entry 1 is never shown.
                  StatusLine("system", "Main firmware", "2010  0110  0030", "F0"),
                  StatusLine("system", "Boot loader", "2010  0413  0333", "F3"),
                  StatusLine("system", "Kernel", "2010  0514  0434", "F4"),
                  StatusLine("system", "Sub firmware", "2010  0312  0232", "F2"),
                  StatusLine("system", "Codec firmware", "2010  0615  0535", "F5"),
                  StatusLine("system", "Front panel", "2010  0716  0636", "F6"),
              }))
        << result.out;

    // 1,907,729 MB in total, 745,216 used; the channels' modes; then the devices.
    std::vector<std::string> expected = {
        StatusLine("status", "Disk", "  1.82 TByte"),
        StatusLine("status", "Disk free", "  1.11 TByte"),
        StatusLine("status", "Disk used", "  727 GByte"),
    };
    const char* const kModes[] = {"No recording", "Continuous Recording", "Event Recording",
                                  "Event Recording"};
    for (std::size_t ch = 0; ch < 16; ++ch) {
        char name[16];
        std::snprintf(name, sizeof name, "Channel %02zu", ch + 1);
        expected.push_back(StatusLine("status", name, kModes[config.status_modes[ch]]));
    }
    for (const auto& device :
         std::vector<std::vector<std::string>>{{"HDD1", "39 %", "Normal"},  // group A
                                               {"HDD2", "41 %", "Normal"},
                                               {"HDD3", "None", "Error"},      // value 0
                                               {"HDD1", "12 %", "Normal"}}) {  // group B
        expected.push_back(StatusLine("status", device[0], "Used", device[1]));
        expected.push_back(StatusLine("status", "", "State", device[2]));
    }
    EXPECT_EQ(PageRows(result.out, "status"), expected) << result.out;

    // 2,000,000 MB is 1953 whole gigabytes, 1.91 terabytes; a used figure above the total
    // wraps the free one.
    config = {};
    config.status_disk_total = 2'000'000;
    config.status_disk_part = 2'000'001;
    result = RunAgainst(config, "status", {});
    ASSERT_EQ(result.exitStatus, 0) << result.err << result.out;
    auto status = PageRows(result.out, "status");
    ASSERT_GE(status.size(), 3u) << result.out;
    EXPECT_EQ(std::vector<std::string>(status.begin(), status.begin() + 3),
              (std::vector<std::string>{StatusLine("status", "Disk", "  1.91 TByte"),
                                        StatusLine("status", "Disk free", "4096.00 TByte"),
                                        StatusLine("status", "Disk used", "  1.91 TByte")}))
        << result.out;

    // A four-channel recorder: four channel rows, with or without the devices; the short
    // status has no modes and no devices.
    for (const bool shortForm : {false, true}) {
        config = {};
        config.channels = 4;
        config.status_short = shortForm;
        config.status_disk_total = 1023;
        config.status_disk_part = 0;
        config.info_fragment_size = 5;
        result = RunAgainst(config, "status", {});
        ASSERT_EQ(result.exitStatus, 0) << result.err << result.out;
        status = PageRows(result.out, "status");
        ASSERT_EQ(status.size(), shortForm ? 7u : 15u) << result.out;
        EXPECT_EQ(status[0], StatusLine("status", "Disk", " 1023 MByte"));
        EXPECT_EQ(status[2], StatusLine("status", "Disk used", "    0 MByte"));
        for (std::size_t ch = 0; ch < 4; ++ch) {
            EXPECT_EQ(status[3 + ch],
                      StatusLine("status", "Channel 0" + std::to_string(ch + 1),
                                 shortForm ? "No recording" : kModes[config.status_modes[ch]]));
        }
        if (!shortForm) {
            EXPECT_EQ(status[7], StatusLine("status", "HDD1", "Used", "39 %"));
        }
    }

    // A refusal: notified, no status page, a failure exit.
    config = {};
    config.status_reason = 86;
    result = RunAgainst(config, "status", {});
    EXPECT_EQ(result.exitStatus, 1) << result.out;
    EXPECT_EQ(FirstLine(result.out, "notify"), R"({"event":"notify","category":6,"code":3})");
    EXPECT_TRUE(PageRows(result.out, "status").empty()) << result.out;
    EXPECT_EQ(PageRows(result.out, "system").size(), 10u) << result.out;
}

TEST_F(CliInfoTest, LocalLogListsTheRingNewestFirst) {
    const auto storage = m_dir / "local";
    constexpr std::uint32_t kStart = 1'286'870'400;  // 2010-10-12 08:00:00
    {
        logs::CLocalLog log(storage);
        for (std::uint32_t i = 1; i <= 2501; ++i) {
            log.SetFixedTimeForTest(kStart + i);
            ASSERT_TRUE(log.WriteLocalLog(
                logs::kLocalLogRecordSize, logs::entry::kConnection, logs::entry::kLogIn,
                "user" + std::to_string(i),
                "10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256)));
        }
    }
    const auto csv = m_dir / "local.csv";
    const auto pdf = m_dir / "local.pdf";
    const auto result = RunCli({"local-log", "--storage", storage.string(), "--json", "--csv",
                                csv.string(), "--pdf", pdf.string()});
    const auto rows = Lines(result.out, "local-log");
    ASSERT_EQ(rows.size(), 2500u) << result.err;
    // The 2,501st entry went to slot 0 and is the newest; the 1st was overwritten.
    EXPECT_EQ(
        rows.front(),
        R"({"event":"local-log","number":2500,"slot":0,"time":"2010-10-12T08:41:41","text":"Logged in","user":"user2501","address":"10.0.9.197"})");
    EXPECT_EQ(
        rows.back(),
        R"({"event":"local-log","number":1,"slot":1,"time":"2010-10-12T08:00:02","text":"Logged in","user":"user2","address":"10.0.0.2"})");
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const std::size_t entry = 2501 - k;
        ASSERT_EQ(Field(rows[k], "number"), std::to_string(2500 - k)) << rows[k];
        ASSERT_EQ(Field(rows[k], "slot"), std::to_string((entry - 1) % 2500)) << rows[k];
        ASSERT_EQ(Field(rows[k], "user"), "user" + std::to_string(entry)) << rows[k];
    }
    const std::string text = ReadFile(csv);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2501);
    EXPECT_EQ(text.substr(0, text.find("\r\n")), "No.,Time,Event,User,Address");

    if (NoPdfOutput(result)) {
        EXPECT_EQ(result.exitStatus, 1);
    } else {
        EXPECT_EQ(result.exitStatus, 0) << result.err;
        const std::string pdfToText = FindPdfToText();
        if (!pdfToText.empty()) {
            const auto shown = testing::RunProgram(pdfToText, {"-raw", pdf.string(), "-"},
                                                   60s * testing::kSanitizerSlowdown);
            ASSERT_EQ(shown.exitStatus, 0) << shown.err;
            // 2,500 rows at 33 a page.
            EXPECT_NE(shown.out.find("- 76 / 76 -"), std::string::npos);
            EXPECT_EQ(shown.out.find("/ 77 -"), std::string::npos);
            EXPECT_NE(shown.out.find("user2501"), std::string::npos);
            EXPECT_NE(shown.out.find("Local Log"), std::string::npos);
        }
    }

    // No log file: no rows, no failure.
    const auto empty = RunCli({"local-log", "--storage", (m_dir / "none").string(), "--json"});
    EXPECT_EQ(empty.exitStatus, 0) << empty.err;
    EXPECT_TRUE(Lines(empty.out, "local-log").empty()) << empty.out;
}

}  // namespace
}  // namespace taviro::cli
