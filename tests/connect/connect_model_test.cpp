#include "connect/connect_model.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace connect = taviro::connect;

namespace {

// Records the names looked up; answers from a small table.
struct FakeResolver {
    std::vector<std::string>* asked;
    connect::Resolver Get() {
        return [this](const std::string& host) -> std::optional<std::string> {
            asked->push_back(host);
            if (host == "nvr.example") {
                return std::string("192.0.2.7");
            }
            return std::nullopt;
        };
    }
};

}  // namespace

TEST(ConnectPort, RangeAndParsing) {
    EXPECT_FALSE(connect::PortInRange(0));
    EXPECT_TRUE(connect::PortInRange(1));
    EXPECT_TRUE(connect::PortInRange(65534));
    EXPECT_FALSE(connect::PortInRange(65535));
    EXPECT_FALSE(connect::PortInRange(-1));

    EXPECT_EQ(connect::ParsePortText("8000"), 8000);
    EXPECT_EQ(connect::ParsePortText(""), 0);
    EXPECT_EQ(connect::ParsePortText("abc"), 0);
    EXPECT_EQ(connect::ParsePortText("12a"), 12);
    EXPECT_EQ(connect::ParsePortText(" -5"), -5);
    EXPECT_FALSE(connect::PortInRange(connect::ParsePortText("99999999999999999999")));
}

TEST(ConnectAddress, DottedQuadNormalisation) {
    EXPECT_EQ(connect::NormalizeDottedQuad("192.168.001.010"), "192.168.1.10");
    EXPECT_EQ(connect::NormalizeDottedQuad("0.0.0.0"), "");
    EXPECT_EQ(connect::NormalizeDottedQuad("256.257.0.1"), "0.1.0.1");
    // 10^20 - 1 is 255 modulo 256.
    EXPECT_EQ(connect::NormalizeDottedQuad("99999999999999999999.1.1.1"), "255.1.1.1");
    EXPECT_EQ(connect::NormalizeDottedQuad("1.2.3"), std::nullopt);
    EXPECT_EQ(connect::NormalizeDottedQuad("1.2.3.4.5"), std::nullopt);
    EXPECT_EQ(connect::NormalizeDottedQuad("1..3.4"), std::nullopt);
    EXPECT_EQ(connect::NormalizeDottedQuad("1.2.3.4."), std::nullopt);
    EXPECT_EQ(connect::NormalizeDottedQuad("host"), std::nullopt);

    std::vector<std::string> asked;
    FakeResolver fake{&asked};
    EXPECT_EQ(connect::ResolveAddress("", fake.Get()), "");
    EXPECT_EQ(connect::ResolveAddress("010.1.1.1", fake.Get()), "10.1.1.1");
    EXPECT_EQ(connect::ResolveAddress("nvr.example", fake.Get()), "192.0.2.7");
    EXPECT_EQ(connect::ResolveAddress("unknown.example", fake.Get()), "");
    // Dotted text is never sent to the resolver.
    EXPECT_EQ(asked, (std::vector<std::string>{"nvr.example", "unknown.example"}));
}

TEST(ConnectModel, FirstOpeningIsDefaultModeAndTheNextIsModified) {
    connect::CConnectModel dlg;
    dlg.Open({}, connect::AddressBook{});
    EXPECT_EQ(dlg.Mode(), connect::PortMode::Default);
    EXPECT_EQ(dlg.Address(), "");
    EXPECT_EQ(dlg.PortText(), "");
    EXPECT_FALSE(dlg.PortEditEnabled());
    EXPECT_TRUE(dlg.ModifyButtonVisible());
    EXPECT_FALSE(dlg.DefaultButtonVisible());

    dlg.SetAddress("010.000.000.001");
    dlg.SetUser("admin");
    dlg.SetPassword("secret");
    dlg.SetDescription("yard");
    std::vector<std::string> asked;
    FakeResolver fake{&asked};
    const auto out = dlg.Confirm(fake.Get());
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(out->remember.address, "010.000.000.001");
    EXPECT_EQ(out->remember.port, 2000);
    EXPECT_EQ(out->record.address, "010.000.000.001");  // as typed
    EXPECT_EQ(out->record.port, 2000);
    EXPECT_EQ(out->record.description, "yard");
    EXPECT_EQ(out->session.address, "10.0.0.1");
    EXPECT_EQ(out->session.port, 2000);
    EXPECT_EQ(out->session.user, "admin");
    EXPECT_EQ(out->session.password, "secret");
    EXPECT_EQ(out->session.description, "yard");

    connect::AddressBook book;
    book[0] = {"010.000.000.001", 2000, 5, 0, "yard"};
    connect::CConnectModel next;
    next.Open(out->remember, book);
    EXPECT_EQ(next.Mode(), connect::PortMode::Modified);
    EXPECT_EQ(next.PortText(), "2000");
    EXPECT_TRUE(next.PortEditEnabled());
    EXPECT_TRUE(next.DefaultButtonVisible());
    EXPECT_EQ(next.Description(), "yard");
    EXPECT_EQ(next.User(), "");
    EXPECT_EQ(next.Password(), "");
}

TEST(ConnectModel, DescriptionLookupAtOpeningMatchesCaseAndPort) {
    connect::AddressBook book;
    book[0] = {"NVR.example", 2000, 9, 0, "upper"};
    book[1] = {"nvr.example", 8000, 8, 1, "other port"};
    book[2] = {"nvr.example", 2000, 7, 2, "lower"};
    book[3] = {"nvr.example", 2000, 6, 3, "second match"};
    connect::CConnectModel dlg;
    dlg.Open({"nvr.example", 2000}, book);
    EXPECT_EQ(dlg.Description(), "lower");
    dlg.Open({"nvr.example", std::nullopt}, book);  // default mode looks up port 2000
    EXPECT_EQ(dlg.Description(), "lower");
    dlg.Open({"NVR.EXAMPLE", 2000}, book);
    EXPECT_EQ(dlg.Description(), "");
}

TEST(ConnectModel, PortButtonsEditsAndRefusedPorts) {
    connect::CConnectModel dlg;
    dlg.Open({"a", 8000}, connect::AddressBook{});
    dlg.SetDescription("d");
    dlg.PressDefault();
    EXPECT_EQ(dlg.Mode(), connect::PortMode::Default);
    EXPECT_EQ(dlg.PortText(), "2000");
    EXPECT_FALSE(dlg.PortEditEnabled());
    EXPECT_EQ(dlg.Description(), "");  // the port text changed

    dlg.PressModify();
    EXPECT_EQ(dlg.Mode(), connect::PortMode::Modified);
    EXPECT_EQ(dlg.PortText(), "");
    EXPECT_TRUE(dlg.PortFocusRequested());
    dlg.ClearPortFocusRequest();

    for (const char* refused : {"0", "65535", "", "x", "-1"}) {
        dlg.SetPortText(refused);
        dlg.SetDescription("kept");
        EXPECT_FALSE(dlg.Confirm(nullptr).has_value()) << refused;
        EXPECT_EQ(dlg.PortText(), "") << refused;
        EXPECT_TRUE(dlg.PortFocusRequested()) << refused;
        EXPECT_EQ(dlg.Description(), "kept");
        dlg.ClearPortFocusRequest();
    }
    for (const char* accepted : {"1", "65534"}) {
        dlg.SetPortText(accepted);
        const auto out = dlg.Confirm(nullptr);
        ASSERT_TRUE(out.has_value()) << accepted;
        EXPECT_EQ(out->session.port, std::stoi(accepted));
        // A host name without a resolver cannot be looked up.
        EXPECT_EQ(out->session.address, "");
    }
}

TEST(ConnectModel, BookEntryInDefaultModeShowsItsPortButConnectsTo2000) {
    connect::CConnectModel dlg;
    dlg.Open({}, connect::AddressBook{});
    dlg.TakeBookEntry({"nvr.example", 8000, 1, 0, "hall"});
    EXPECT_EQ(dlg.Mode(), connect::PortMode::Default);
    EXPECT_EQ(dlg.PortText(), "8000");
    EXPECT_FALSE(dlg.PortEditEnabled());
    EXPECT_EQ(dlg.Description(), "hall");
    std::vector<std::string> asked;
    FakeResolver fake{&asked};
    const auto out = dlg.Confirm(fake.Get());
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(out->session.port, 2000);
    EXPECT_EQ(out->session.address, "192.0.2.7");
    EXPECT_EQ(out->session.description, "hall");
}

TEST(ConnectModel, FieldLimits) {
    connect::CConnectModel dlg;
    dlg.Open({std::string(150, 'r'), 1}, connect::AddressBook{});
    EXPECT_EQ(dlg.Address().size(), 99u);  // read back through a 100-byte buffer
    dlg.SetAddress(std::string(200, 'a'));
    dlg.SetPortText("1234567");
    dlg.SetUser("user-name-too-long");
    dlg.SetPassword("password-too-long");
    dlg.SetDescription(std::string(300, 'd'));
    EXPECT_EQ(dlg.Address().size(), 120u);
    EXPECT_EQ(dlg.PortText(), "12345");
    EXPECT_EQ(dlg.User(), "user-nam");
    EXPECT_EQ(dlg.Password(), "password");
    EXPECT_EQ(dlg.Description().size(), 256u);
    const auto out = dlg.Confirm(nullptr);
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(out->remember.address.size(), 99u);
    EXPECT_EQ(out->record.address.size(), 120u);
    EXPECT_EQ(out->session.description.size(), 256u);
}
