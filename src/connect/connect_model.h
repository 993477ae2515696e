// The connect dialog without its window: the five fields with the limits of their edits,
// the default/modified port mode, confirming (port check, what is remembered, what is
// recorded in the address book, what the new session gets) and address resolution.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "connect/address_book.h"

namespace taviro::connect {

inline constexpr std::int32_t kDefaultPort = 2000;
inline constexpr std::int32_t kMinPort = 1;
inline constexpr std::int32_t kMaxPort = 65534;  // 65535 is refused as well

// Edit limits of the dialog.
inline constexpr std::size_t kAddressLimit = 120;
inline constexpr std::size_t kPortTextLimit = 5;
inline constexpr std::size_t kUserLimit = 8;
inline constexpr std::size_t kPasswordLimit = 8;
inline constexpr std::size_t kDescriptionLimit = 256;

// Widths of the fixed fields the session keeps (each keeps a terminator).
inline constexpr std::size_t kSessionAddressWidth = 128;
inline constexpr std::size_t kSessionUserWidth = 16;
inline constexpr std::size_t kSessionPasswordWidth = 16;
inline constexpr std::size_t kSessionDescriptionWidth = 260;
// The remembered address is written and read as a 100-byte buffer.
inline constexpr std::size_t kRememberedAddressWidth = 100;

enum class PortMode { Default, Modified };

// The last address and port as the settings hold them; no port means "never confirmed".
struct RememberedServer {
    std::string address;
    std::optional<std::int32_t> port;
};

// What a new session is given when the dialog is confirmed.
struct SessionTarget {
    std::string address;  // dotted IPv4, or empty when the name could not be resolved
    // The name as typed when it is no dotted address: the session resolves it off the
    // window thread when the dialog had no resolver (address is then empty).
    std::string host;
    std::int32_t port = 0;
    std::string user;
    std::string password;
    std::string description;
};

// Everything confirming produces: store `remember` in the settings, record `record` with
// RecordConnection, hand `session` to the new session.
struct ConnectOutcome {
    RememberedServer remember;
    AddressBookEntry record;  // address as typed, port, description
    SessionTarget session;
};

// Host name or dotted text to dotted IPv4 text; nullopt when unknown.
using Resolver = std::function<std::optional<std::string>(const std::string&)>;
// platform::ResolveIPv4.
Resolver SystemResolver();

// True for 1..65534.
bool PortInRange(std::int32_t port);
// The decimal value at the start of the text, as the dialog reads its port edit: leading
// blanks and a sign are accepted, reading stops at the first non-digit, no digits gives 0.
std::int32_t ParsePortText(std::string_view text);
// Text of digits and dots only: the four numbers as decimal, each kept to its low 8 bits,
// written back as "a.b.c.d"; "" when all four are 0. nullopt when the text is not made of
// four non-empty numbers (such a name cannot be looked up either).
std::optional<std::string> NormalizeDottedQuad(std::string_view text);
bool IsDigitsAndDots(std::string_view text);
// The address handed to the session: "" stays ""; digits and dots are normalised;
// anything else is resolved, and "" when that fails.
std::string ResolveAddress(const std::string& typed, const Resolver& resolve);

class CConnectModel {
  public:
    // Opening the dialog: last address and port from the settings, the description of the
    // first book entry with exactly this address (case counts) and port.
    void Open(const RememberedServer& remembered, const AddressBook& book);

    // Edits; each text is cut to its edit's limit. Changing address or port clears the
    // description.
    void SetAddress(std::string_view text);
    void SetPortText(std::string_view text);
    void SetUser(std::string_view text);
    void SetPassword(std::string_view text);
    void SetDescription(std::string_view text);

    // "Default": port edit shows "2000", disabled. "Modify": port edit empty and enabled.
    void PressDefault();
    void PressModify();

    // An entry picked in the address book fills address, port text and description; the
    // port mode stays as it is.
    void TakeBookEntry(const AddressBookEntry& entry);

    // OK. A port outside 1..65534 empties the port edit, asks for focus on it and returns
    // nullopt (the dialog stays open).
    std::optional<ConnectOutcome> Confirm(const Resolver& resolve);

    [[nodiscard]] const std::string& Address() const { return m_strIP; }
    [[nodiscard]] const std::string& PortText() const { return m_strPort; }
    [[nodiscard]] const std::string& User() const { return m_strUser; }
    [[nodiscard]] const std::string& Password() const { return m_strPassword; }
    [[nodiscard]] const std::string& Description() const { return m_strDescription; }
    [[nodiscard]] PortMode Mode() const { return m_mode; }
    [[nodiscard]] std::int32_t Port() const { return m_nPort; }
    [[nodiscard]] bool PortEditEnabled() const { return m_mode == PortMode::Modified; }
    // Which of the two buttons sharing a place is visible.
    [[nodiscard]] bool DefaultButtonVisible() const { return m_mode == PortMode::Modified; }
    [[nodiscard]] bool ModifyButtonVisible() const { return m_mode == PortMode::Default; }
    // Set when a refused port wants the focus on the port edit; the view clears it.
    [[nodiscard]] bool PortFocusRequested() const { return m_bFocusPort; }
    void ClearPortFocusRequest() { m_bFocusPort = false; }

  private:
    std::string m_strIP;
    std::string m_strPort;
    std::string m_strUser;
    std::string m_strPassword;
    std::string m_strDescription;
    std::int32_t m_nPort = kDefaultPort;
    PortMode m_mode = PortMode::Default;
    bool m_bFocusPort = false;
};

}  // namespace taviro::connect
