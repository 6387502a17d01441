#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "DeviceFixture.h"

namespace {

using testing::ElementsAre;

class SetConnectionNameTest : public velk_test::DeviceFixture {
 protected:
  HRESULT Rename(const std::wstring& name = L"velk-access") {
    return TovrinModule().SetConnectionName(kClassGuid, kDriverKey, name);
  }
  // Every resource given back, whatever the way out.
  void ExpectReleased() {
    EXPECT_TRUE(connections.outstanding.empty());
    EXPECT_EQ(connections.foreignFrees, 0u);
    EXPECT_EQ(connections.references, 0);
    EXPECT_EQ(registry.openHandles, 0u);
    EXPECT_EQ(registry.writes, 0u);
  }
  std::string Open(int n) { return std::string("I open ") + kConnectionPathA + "(" + std::to_string(n) + ")"; }
  std::string Query(int n) {
    return std::string("I QueryValue ") + kConnectionPathA + "\\Name(" + std::to_string(n) + ")";
  }
};

TEST_F(SetConnectionNameTest, OpensTheKeysAsNeeded) {
  EXPECT_EQ(Rename(), S_OK);
  ASSERT_EQ(registry.opens.size(), 2u);
  EXPECT_EQ(registry.opens[0].first, kClassPath);
  EXPECT_EQ(registry.opens[0].second, static_cast<REGSAM>(KEY_READ));
  EXPECT_EQ(registry.opens[1].first, kConnectionPath);
  EXPECT_EQ(registry.opens[1].second, static_cast<REGSAM>(0x2001F));
  ExpectReleased();
}

TEST_F(SetConnectionNameTest, TheConnectionKeyAppearsOnTheThirdAttempt) {
  registry.appearsAfterOpens
      [L"SYSTEM\\CURRENTCONTROLSET\\CONTROL\\NETWORK\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\"
       L"{11111111-2222-3333-4444-555555555555}\\CONNECTION"] = 2;
  EXPECT_EQ(Rename(), S_OK);
  EXPECT_THAT(Messages(), ElementsAre("I CTovrinModule::SetConnectionName - enter", Open(1), Open(2),
                                      "I .uType:0 .pOleStr: \"Ethernet\"", "I .uType:0 .pOleStr: \"Ethernet 3\"",
                                      "I Change connection name: \"Ethernet 3\" -> \"velk-access\"",
                                      "I CTovrinModule::SetConnectionName - leave"));
  EXPECT_THAT(clock.sleeps, ElementsAre(1000u, 1000u, 1000u, 1000u));
  ExpectReleased();
}

TEST_F(SetConnectionNameTest, AConnectionKeyThatNeverAppears) {
  registry.keys.erase(
      L"SYSTEM\\CURRENTCONTROLSET\\CONTROL\\NETWORK\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\"
      L"{11111111-2222-3333-4444-555555555555}\\CONNECTION");
  EXPECT_EQ(Rename(), static_cast<HRESULT>(0x80070002));
  EXPECT_THAT(Messages(), ElementsAre("I CTovrinModule::SetConnectionName - enter", Open(1), Open(2), Open(3), Open(4),
                                      Open(5), "I CTovrinModule::SetConnectionName - leave"));
  EXPECT_EQ(clock.sleptMilliseconds, 6000u);
  EXPECT_EQ(registry.opens.size(), 6u);
  EXPECT_TRUE(connections.renames.empty());
  ExpectReleased();
}

TEST_F(SetConnectionNameTest, OtherOpenFailuresEndAtOnce) {
  registry.openError
      [L"SYSTEM\\CURRENTCONTROLSET\\CONTROL\\NETWORK\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\"
       L"{11111111-2222-3333-4444-555555555555}\\CONNECTION"] = ERROR_ACCESS_DENIED;
  EXPECT_EQ(Rename(), static_cast<HRESULT>(0x80070005));
  EXPECT_EQ(clock.sleptMilliseconds, 1000u);
  EXPECT_EQ(Messages().size(), 2u);
  ExpectReleased();
}

TEST_F(SetConnectionNameTest, WaitsForTheName) {
  std::wstring name =
      L"SYSTEM\\CURRENTCONTROLSET\\CONTROL\\NETWORK\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\"
      L"{11111111-2222-3333-4444-555555555555}\\CONNECTION\\NAME";
  registry.appearsAfterQueries[name] = 2;
  EXPECT_EQ(Rename(), S_OK);
  std::vector<std::string> m = Messages();
  ASSERT_GE(m.size(), 3u);
  EXPECT_EQ(m[1], Query(1));
  EXPECT_EQ(m[2], Query(2));
  EXPECT_EQ(clock.sleptMilliseconds, 4000u);

  installer.messages.clear();
  clock.sleeps.clear();
  clock.sleptMilliseconds = 0;
  registry.appearsAfterQueries[name] = 100;
  EXPECT_EQ(Rename(), static_cast<HRESULT>(0x80070002));
  EXPECT_THAT(Messages(), ElementsAre("I CTovrinModule::SetConnectionName - enter", Query(1), Query(2), Query(3),
                                      Query(4), Query(5), "I CTovrinModule::SetConnectionName - leave"));
  EXPECT_EQ(clock.sleptMilliseconds, 6000u);
  ExpectReleased();
}

TEST_F(SetConnectionNameTest, RegistryFailures) {
  // No class key: no wait at all.
  EXPECT_EQ(TovrinModule().SetConnectionName(kClassGuid, L"{4d36e972-e325-11ce-bfc1-08002be10318}\\0001", L"x"),
            static_cast<HRESULT>(0x80070002));
  EXPECT_TRUE(clock.sleeps.empty());
  ExpectReleased();

  registry.SetDword(kClassPath, L"NetCfgInstanceId", 5);
  EXPECT_EQ(Rename(), static_cast<HRESULT>(0x8007065D));
  ExpectReleased();

  registry.SetString(kClassPath, L"NetCfgInstanceId", kNetCfgId, REG_EXPAND_SZ);
  registry.SetDword(kConnectionPath, L"Name", 1);
  EXPECT_EQ(Rename(), static_cast<HRESULT>(0x8007065D));
  ExpectReleased();

  registry.SetString(kConnectionPath, L"Name", L"Ethernet 3", REG_MULTI_SZ);
  EXPECT_EQ(Rename(), S_OK);
}

TEST_F(SetConnectionNameTest, OnlyTheExactNameIsRenamed) {
  connections.items = {{L"ETHERNET 3"}, {L"ethernet 3"}, {L"Ethernet 3"}, {L"Ethernet 3"}};
  EXPECT_EQ(Rename(), S_OK);
  EXPECT_THAT(connections.renames, ElementsAre(std::pair<size_t, std::wstring>(2, L"velk-access")));
  ExpectReleased();
}

TEST_F(SetConnectionNameTest, NoItemHasTheName) {
  connections.items = {{L"Ethernet"}, {L"ethernet 3"}, {L"Wi-Fi"}};
  EXPECT_EQ(Rename(), static_cast<HRESULT>(0x80070002));
  EXPECT_THAT(Messages(), ElementsAre("I CTovrinModule::SetConnectionName - enter", "I .uType:0 .pOleStr: \"Ethernet\"",
                                      "I .uType:0 .pOleStr: \"ethernet 3\"", "I .uType:0 .pOleStr: \"Wi-Fi\"",
                                      "I CTovrinModule::SetConnectionName - leave"));
  // The rename's own wait is never reached.
  EXPECT_EQ(clock.sleptMilliseconds, 1000u);
  ExpectReleased();
}

TEST_F(SetConnectionNameTest, NamesThatAreNoWideStringAreSkipped) {
  connections.items = {{L"", STRRET_CSTR}, {L"", STRRET_OFFSET}, {L"Ethernet 3"}};
  EXPECT_EQ(Rename(), S_OK);
  std::vector<std::string> m = Messages();
  EXPECT_EQ(m[1], "I .uType:2 .pOleStr: \"\"");
  EXPECT_EQ(m[2], "I .uType:1 .pOleStr: \"\"");
  EXPECT_THAT(connections.renames, ElementsAre(std::pair<size_t, std::wstring>(2, L"velk-access")));
  ExpectReleased();
}

TEST_F(SetConnectionNameTest, ShellFailuresEndTheOperation) {
  connections.mallocResult = E_OUTOFMEMORY;
  EXPECT_EQ(Rename(), E_OUTOFMEMORY);
  EXPECT_TRUE(registry.opens.empty());
  EXPECT_THAT(Messages(),
              ElementsAre("I CTovrinModule::SetConnectionName - enter", "I CTovrinModule::SetConnectionName - leave"));
  ExpectReleased();
  connections.mallocResult = S_OK;

  connections.createResult = static_cast<HRESULT>(0x80040154);  // class not registered, as in Wine
  EXPECT_EQ(Rename(), static_cast<HRESULT>(0x80040154));
  ExpectReleased();
  connections.createResult = S_OK;

  connections.enumResult = E_ACCESSDENIED;
  EXPECT_EQ(Rename(), E_ACCESSDENIED);
  ExpectReleased();

  // An empty folder lists nothing: no item has the name.
  connections.enumResult = S_FALSE;
  EXPECT_EQ(Rename(), static_cast<HRESULT>(0x80070002));
  ExpectReleased();
  connections.enumResult = S_OK;

  connections.displayFailsAt = 1;
  EXPECT_EQ(Rename(), E_FAIL);
  ExpectReleased();
  connections.displayFailsAt.reset();

  connections.setNameResult = static_cast<HRESULT>(0x800700B7);
  EXPECT_EQ(Rename(), static_cast<HRESULT>(0x800700B7));
  ExpectReleased();
}

}  // namespace
