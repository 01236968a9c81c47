// Naming, opening, closing and full names of a key object; remote roots.
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/root_keys.h"
#include "regkey/qorCRegKey.h"
#include "tests/regkey/support/recording_service.h"
#include "tests/support/scratch_key.h"

namespace {

using regkey::test::Recorded;
using regkey::test::ScratchKey;

std::string ComputerName() {
  char name[MAX_COMPUTERNAME_LENGTH + 64] = {};
  DWORD size = sizeof name;
  EXPECT_TRUE(GetComputerNameA(name, &size));
  return name;
}

bool KeyExists(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

void MakeKey(HKEY root, const std::string& path) {
  HKEY made = nullptr;
  ASSERT_EQ(
      RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &made, nullptr),
      ERROR_SUCCESS);
  RegCloseKey(made);
}

// Not named: no full name, and Open refuses with 13 without a registry call.
void ExpectNotNamed(qorCRegKey& key) {
  EXPECT_FALSE(key.IsNamed());
  EXPECT_TRUE(key.GetFullName().IsEmpty());
  Recorded recorded;
  EXPECT_FALSE(key.Open());
  EXPECT_EQ(key.m_lError, ERROR_INVALID_DATA);
  EXPECT_TRUE(recorded.service.calls.empty());
}

TEST(KeyNaming, FreshObjectIsNotNamedAndDoesNotOpen) {
  qorCRegKey key;
  EXPECT_FALSE(key.IsOpen());
  EXPECT_TRUE(key.IsLocal());
  EXPECT_EQ(key.GetAccess(), static_cast<REGSAM>(KEY_ALL_ACCESS));
  EXPECT_EQ(key.GetFlags(), 0);
  EXPECT_EQ(key.m_lError, 0);
  EXPECT_FALSE(key.WasCreated());
  ExpectNotNamed(key);
}

TEST(KeyNaming, RuntimeClassRecord) {
  qorCRegKey key;
  const CRuntimeClass* record = key.GetRuntimeClass();
  EXPECT_STREQ(record->m_lpszClassName, "qorCRegKey");
  EXPECT_EQ(record->m_nObjectSize, static_cast<int>(sizeof(qorCRegKey)));
  EXPECT_EQ(record->m_wSchema, 0xFFFFu);
  EXPECT_EQ(record->m_pfnCreateObject, nullptr);
  EXPECT_EQ(record->m_pBaseClass, RUNTIME_CLASS(CObject));
  EXPECT_TRUE(key.IsKindOf(RUNTIME_CLASS(CObject)));
}

// Derived classes reach the fields by their fixed offsets.
TEST(KeyNaming, FieldsKeepTheirOrder) {
  struct Layout : qorCRegKey {
    std::vector<const void*> Fields() const {
      return {&m_hKey,       &m_hRoot,  &m_strSubKey, &m_strMachine,
              &m_samDesired, &m_nFlags, &m_lError,    &m_bCreated};
    }
  };
  Layout key;
  const std::vector<const void*> fields = key.Fields();
  for (size_t i = 1; i < fields.size(); ++i) EXPECT_LT(fields[i - 1], fields[i]) << i;
}

TEST(KeyNaming, ConstructorKeepsFlagsUnlessNotGiven) {
  EXPECT_EQ(qorCRegKey(qorCRegKey::flagOpenExisting | 0x0100).GetFlags(),
            qorCRegKey::flagOpenExisting | 0x0100);
  EXPECT_EQ(qorCRegKey(qorCRegKey::flagsNotGiven).GetFlags(), 0);
}

TEST(KeyNaming, SetKeyRefusesBadPathsAndKeepsTheOpenKey) {
  ScratchKey scratch("naming-refuse");
  qorCRegKey key;
  ASSERT_TRUE(key.SetKey(nullptr, scratch.root(), scratch.path().c_str(), KEY_READ | KEY_WRITE));
  ASSERT_TRUE(key.Open());
  for (LPCTSTR bad : {static_cast<LPCTSTR>(nullptr), "", "\\Software\\x"}) {
    key.m_lError = 0;
    EXPECT_FALSE(key.SetKey("other", HKEY_LOCAL_MACHINE, bad, KEY_READ));
    EXPECT_EQ(key.m_lError, ERROR_INVALID_DATA);
    EXPECT_TRUE(key.IsOpen());
    EXPECT_STREQ(key.GetSubKey(), scratch.path().c_str());
    EXPECT_TRUE(key.IsLocal());
    EXPECT_EQ(key.GetRootKey(), scratch.root());
    EXPECT_EQ(key.GetAccess(), static_cast<REGSAM>(KEY_READ | KEY_WRITE));
  }
}

TEST(KeyNaming, SetKeyWithAccessZeroKeepsTheMask) {
  qorCRegKey key;
  ASSERT_TRUE(key.SetKey("", HKEY_CURRENT_USER, "Software", 0));
  EXPECT_EQ(key.GetAccess(), static_cast<REGSAM>(KEY_ALL_ACCESS));
  EXPECT_TRUE(key.IsLocal());  // an empty machine is this one
  ASSERT_TRUE(key.SetKey(nullptr, HKEY_CURRENT_USER, "Software", KEY_READ));
  ASSERT_TRUE(key.SetKey(nullptr, HKEY_CURRENT_USER, "Software", 0));
  EXPECT_EQ(key.GetAccess(), static_cast<REGSAM>(KEY_READ));
}

TEST(KeyNaming, SetKeyOnAnOpenKeyClosesItAndStoresZero) {
  ScratchKey scratch("naming-setkey");
  qorCRegKey key(qorCRegKey::flagOpenExisting | 0x0100);
  MakeKey(scratch.root(), scratch.path());
  ASSERT_TRUE(key.SetKey(nullptr, scratch.root(), scratch.path().c_str(), 0));
  ASSERT_TRUE(key.Open());
  key.m_lError = 5;
  ASSERT_TRUE(key.SetKey(nullptr, scratch.root(), (scratch / "other").c_str(), 0));
  EXPECT_FALSE(key.IsOpen());
  EXPECT_EQ(key.m_lError, 0);
  EXPECT_EQ(key.GetFlags(), qorCRegKey::flagOpenExisting | 0x0100);
  EXPECT_FALSE(key.WasCreated());
}

TEST(KeyNaming, SetKeyWithRootZeroLeavesTheObjectNotNamed) {
  qorCRegKey key;
  key.m_lError = 5;
  ASSERT_TRUE(key.SetKey(nullptr, nullptr, "Software", KEY_READ));
  EXPECT_EQ(key.m_lError, 0);
  ExpectNotNamed(key);
}

TEST(KeyNaming, SubKeyOfDropsLeadingBackslashesAndInheritsFromTheParent) {
  qorCRegKey parent(0x0101);
  ASSERT_TRUE(parent.SetKey("far", HKEY_LOCAL_MACHINE, "Software\\A", KEY_READ));
  qorCRegKey child;
  child.m_lError = 5;
  ASSERT_TRUE(child.SetSubKeyOf(parent, "\\\\B\\C", 0, 0xFFFF));
  EXPECT_STREQ(child.GetSubKey(), "Software\\A\\B\\C");
  EXPECT_STREQ(child.GetMachine(), "far");  // a subkey of a remote key is remote
  EXPECT_FALSE(child.IsLocal());
  EXPECT_EQ(child.GetRootKey(), HKEY_LOCAL_MACHINE);
  EXPECT_EQ(child.GetAccess(), static_cast<REGSAM>(KEY_READ));
  EXPECT_EQ(child.GetFlags(), 0x0101);
  EXPECT_EQ(child.m_lError, 0);
}

TEST(KeyNaming, SubKeyOfWithoutARelativeNameNamesTheParentsKey) {
  qorCRegKey parent(0x0101);
  ASSERT_TRUE(parent.SetKey(nullptr, HKEY_LOCAL_MACHINE, "Software\\A", KEY_READ));
  for (LPCTSTR none : {static_cast<LPCTSTR>(nullptr), "", "\\\\\\"}) {
    qorCRegKey child;
    ASSERT_TRUE(child.SetSubKeyOf(parent, none, KEY_WRITE, 0));
    EXPECT_STREQ(child.GetSubKey(), "Software\\A");
    EXPECT_EQ(child.GetAccess(), static_cast<REGSAM>(KEY_WRITE));
    EXPECT_EQ(child.GetFlags(), 0);
  }
}

TEST(KeyNaming, SubKeyOfItselfMovesOneLevelDownAndCloses) {
  ScratchKey scratch("naming-self");
  qorCRegKey key;
  ASSERT_TRUE(key.SetKey(nullptr, scratch.root(), scratch.path().c_str(), 0));
  ASSERT_TRUE(key.Open());
  ASSERT_TRUE(key.SetSubKeyOf(key, "D", 0, 0xFFFF));
  EXPECT_STREQ(key.GetSubKey(), (scratch / "D").c_str());
  EXPECT_FALSE(key.IsOpen());
  // A name that points into the object's own path is read before it changes.
  const std::string before(key.GetSubKey());
  ASSERT_TRUE(key.SetSubKeyOf(key, key.GetSubKey(), 0, 0xFFFF));
  EXPECT_EQ(std::string(key.GetSubKey()), before + "\\" + before);
}

TEST(KeyNaming, SubKeyOfUnnamedParentChangesNothingButTheError) {
  ScratchKey scratch("naming-badkey");
  MakeKey(scratch.root(), scratch.path());
  qorCRegKey unnamed;
  qorCRegKey key(7);
  ASSERT_TRUE(key.SetKey(nullptr, scratch.root(), scratch.path().c_str(), KEY_ALL_ACCESS));
  ASSERT_TRUE(key.Open());
  EXPECT_FALSE(key.SetSubKeyOf(unnamed, "Y", KEY_WRITE, 3));
  EXPECT_EQ(key.m_lError, ERROR_BADKEY);
  EXPECT_STREQ(key.GetSubKey(), scratch.path().c_str());
  EXPECT_EQ(key.GetFlags(), 7);
  EXPECT_EQ(key.GetAccess(), static_cast<REGSAM>(KEY_ALL_ACCESS));
  EXPECT_TRUE(key.IsOpen());
}

TEST(KeyNaming, SubKeyConstructorTakesANamedParentsFlags) {
  qorCRegKey parent(5);
  ASSERT_TRUE(parent.SetKey(nullptr, HKEY_CURRENT_USER, "Software", 0));
  qorCRegKey named(parent, "\\Child", 0, 9);
  EXPECT_EQ(named.GetFlags(), 5);
  EXPECT_STREQ(named.GetSubKey(), "Software\\Child");
  EXPECT_EQ(named.m_lError, 0);
}

TEST(KeyNaming, SubKeyConstructorOfAnUnnamedParentKeepsItsFlagsAndFails) {
  qorCRegKey unnamed;
  qorCRegKey orphan(unnamed, "Child", 0, 9);
  EXPECT_EQ(orphan.GetFlags(), 9);
  EXPECT_FALSE(orphan.IsNamed());
  EXPECT_EQ(orphan.m_lError, ERROR_BADKEY);
  qorCRegKey orphanDefault(unnamed, "Child");
  EXPECT_EQ(orphanDefault.GetFlags(), 0);
}

TEST(KeyNaming, FullNamesOfLocalAndRemoteKeys) {
  qorCRegKey key;
  ASSERT_TRUE(key.SetKey(nullptr, HKEY_LOCAL_MACHINE, "Software\\Vendor", 0));
  EXPECT_STREQ(key.GetFullName(), "HKEY_LOCAL_MACHINE\\Software\\Vendor");
  ASSERT_TRUE(key.SetKey("host", HKEY_CURRENT_CONFIG, "A\\B", 0));
  EXPECT_STREQ(key.GetFullName(), "\\\\host\\HKEY_CURRENT_CONFIG\\A\\B");
  ASSERT_TRUE(key.SetKey(nullptr, HKEY_DYN_DATA, "%s%n", 0));  // the path is no format
  EXPECT_STREQ(key.GetFullName(), "HKEY_DYN_DATA\\%s%n");
}

TEST(KeyNaming, FullNameOfARootOutsideTheTableIsEmpty) {
  qorCRegKey key;
  ASSERT_TRUE(key.SetKey(nullptr, reinterpret_cast<HKEY>(0x1234), "A", 0));
  EXPECT_TRUE(key.GetFullName().IsEmpty());
}

TEST(KeyNaming, RootKeyNameTableInItsOrderWithAnEndEntry) {
  const std::vector<std::pair<std::string, HKEY>> expected = {
      {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
      {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
      {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
      {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
      {"HKEY_USERS", HKEY_USERS},
      {"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA},
      {"HKEY_DYN_DATA", HKEY_DYN_DATA},
  };
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(qorCRegKey::rootKeyNames[i].lpszName, expected[i].first) << i;
    EXPECT_EQ(qorCRegKey::rootKeyNames[i].hKey, expected[i].second) << i;
  }
  EXPECT_EQ(qorCRegKey::rootKeyNames[7].lpszName, nullptr);
  EXPECT_EQ(qorCRegKey::rootKeyNames[7].hKey, nullptr);
}

// The class's table spells its handles as <windows.h> constants; the shared
// root table, from which the registry and the tool take theirs, must agree.
TEST(KeyNaming, RootKeyNameTableAgreesWithTheSharedRootTable) {
  ASSERT_EQ(regkey::platform::kRootKeyCount, 7u);
  for (size_t i = 0; i < regkey::platform::kRootKeyCount; ++i) {
    const regkey::platform::RootKey& root = regkey::platform::kRootKeys[i];
    EXPECT_EQ(qorCRegKey::rootKeyNames[i].hKey, regkey::platform::RootHandle(root)) << i;
    EXPECT_EQ(regkey::platform::FindRoot(qorCRegKey::rootKeyNames[i].hKey), &root) << i;
  }
  EXPECT_EQ(regkey::platform::FindRoot(reinterpret_cast<HKEY>(0x1234)), nullptr);
}

TEST(KeyOpening, OpenCreatesAMissingKeyWithTheExactCall) {
  ScratchKey scratch("open-create");
  Recorded recorded;
  qorCRegKey key;
  ASSERT_TRUE(key.SetKey(nullptr, scratch.root(), scratch.path().c_str(), KEY_READ | KEY_WRITE));
  key.m_lError = 5;
  ASSERT_TRUE(key.Open());
  EXPECT_TRUE(key.WasCreated());
  EXPECT_EQ(key.m_lError, 0);
  ASSERT_EQ(recorded.service.calls.size(), 1u);
  const regkey::test::Call create = recorded.service.calls[0];
  EXPECT_EQ(create.fn, "Create");
  EXPECT_EQ(create.key, scratch.root());
  EXPECT_EQ(create.text, scratch.path());
  EXPECT_EQ(create.number, static_cast<DWORD>(KEY_READ | KEY_WRITE));
  EXPECT_TRUE(create.nullsAsGiven);
  EXPECT_EQ(key.GetKeyHandle(), create.out);
  EXPECT_TRUE(KeyExists(scratch.root(), scratch.path()));
}

// A scratch key opened under a recording service, m_lError set to 5 after.
class OpenKey : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(key.SetKey(nullptr, scratch.root(), scratch.path().c_str(), 0));
    ASSERT_TRUE(key.Open());
    handle = key.GetKeyHandle();
    key.m_lError = 5;
  }

  ScratchKey scratch{"open-key"};
  Recorded recorded;
  qorCRegKey key;
  HKEY handle = nullptr;
};

TEST_F(OpenKey, OpenAgainMakesNoCallAndKeepsTheError) {
  EXPECT_TRUE(key.Open());
  EXPECT_EQ(key.m_lError, 5);
  EXPECT_TRUE(key.WasCreated());
  EXPECT_EQ(key.GetKeyHandle(), handle);
  EXPECT_EQ(recorded.service.calls.size(), 1u);
}

TEST_F(OpenKey, CloseKeepsTheErrorAndClosesOnce) {
  key.Close();
  EXPECT_FALSE(key.IsOpen());
  EXPECT_EQ(key.GetKeyHandle(), nullptr);
  EXPECT_EQ(key.m_lError, 5);
  key.Close();
  ASSERT_EQ(recorded.service.Count("Close"), 1u);
  EXPECT_EQ(recorded.service.Of("Close")[0].key, handle);
}

TEST(KeyOpening, OpenOfAnExistingKeyReportsNotCreated) {
  ScratchKey scratch("open-existing");
  MakeKey(scratch.root(), scratch.path());
  for (const WORD flags : {WORD{0}, qorCRegKey::flagOpenExisting}) {
    qorCRegKey key(flags);
    ASSERT_TRUE(key.SetKey(nullptr, scratch.root(), scratch.path().c_str(), 0));
    key.m_lError = 5;
    ASSERT_TRUE(key.Open()) << flags;
    EXPECT_FALSE(key.WasCreated()) << flags;
    EXPECT_EQ(key.m_lError, 0) << flags;
  }
}

TEST(KeyOpening, OpenExistingOnlyFailsOnAMissingKeyWithoutCreatingIt) {
  ScratchKey scratch("open-only");
  Recorded recorded;
  qorCRegKey key(qorCRegKey::flagOpenExisting);
  ASSERT_TRUE(key.SetKey(nullptr, scratch.root(), scratch.path().c_str(), 0));
  EXPECT_FALSE(key.Open());
  EXPECT_EQ(key.m_lError, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key.GetKeyHandle(), nullptr);
  EXPECT_FALSE(KeyExists(scratch.root(), scratch.path()));
  ASSERT_EQ(recorded.service.calls.size(), 1u);
  EXPECT_EQ(recorded.service.calls[0].fn, "Open");
  EXPECT_EQ(recorded.service.calls[0].key, scratch.root());
  EXPECT_EQ(recorded.service.calls[0].text, scratch.path());
  EXPECT_EQ(recorded.service.calls[0].number, static_cast<DWORD>(KEY_ALL_ACCESS));
  EXPECT_TRUE(recorded.service.calls[0].nullsAsGiven);
}

TEST(KeyOpening, AFailedOpenIsNotRemembered) {
  ScratchKey scratch("open-retry");
  Recorded recorded;
  qorCRegKey key(qorCRegKey::flagOpenExisting);
  ASSERT_TRUE(key.SetKey(nullptr, scratch.root(), scratch.path().c_str(), 0));
  EXPECT_FALSE(key.Open());
  MakeKey(scratch.root(), scratch.path());
  ASSERT_TRUE(key.Open());
  EXPECT_EQ(key.m_lError, 0);
  EXPECT_EQ(recorded.service.Count("Open"), 2u);
}

TEST(KeyOpening, FailedCallLeavesNoHandleAndKeepsCreated) {
  ScratchKey scratch("open-fail");
  qorCRegKey key;
  ASSERT_TRUE(key.SetKey(nullptr, scratch.root(), scratch.path().c_str(), 0));
  ASSERT_TRUE(key.Open());
  ASSERT_TRUE(key.WasCreated());
  key.Close();
  Recorded recorded;
  recorded.service.createKey = [](HKEY, LPCSTR, REGSAM, PHKEY out, LPDWORD disposition) {
    *out = reinterpret_cast<HKEY>(0x4242);  // garbage that must not be kept
    *disposition = REG_OPENED_EXISTING_KEY;
    return static_cast<LONG>(ERROR_ACCESS_DENIED);
  };
  EXPECT_FALSE(key.Open());
  EXPECT_EQ(key.m_lError, ERROR_ACCESS_DENIED);
  EXPECT_EQ(key.GetKeyHandle(), nullptr);
  EXPECT_TRUE(key.WasCreated());
  EXPECT_EQ(recorded.service.Count("Close"), 0u);
}

TEST(KeyOpening, AccessMaskReachesSubkeys) {
  ScratchKey scratch("open-access");
  Recorded recorded;
  qorCRegKey parent;
  ASSERT_TRUE(parent.SetKey(nullptr, scratch.root(), scratch.path().c_str(), KEY_READ));
  ASSERT_TRUE(parent.Open());  // created although only read access is asked for
  qorCRegKey child(parent, "Child");
  EXPECT_EQ(child.GetAccess(), static_cast<REGSAM>(KEY_READ));
  ASSERT_TRUE(child.Open());
  ASSERT_EQ(recorded.service.Count("Create"), 2u);
  EXPECT_EQ(recorded.service.Of("Create")[1].number, static_cast<DWORD>(KEY_READ));
  // A read-only handle can't write.
  const BYTE byte = 1;
  EXPECT_FALSE(child.SetValue("v", &byte, 1, REG_BINARY));
  EXPECT_EQ(child.m_lError, ERROR_ACCESS_DENIED);
}

TEST(KeyOpening, DestructionClosesTheHandle) {
  ScratchKey scratch("open-destroy");
  Recorded recorded;
  HKEY handle = nullptr;
  {
    qorCRegKey key;
    ASSERT_TRUE(key.SetKey(nullptr, scratch.root(), scratch.path().c_str(), 0));
    ASSERT_TRUE(key.Open());
    handle = key.GetKeyHandle();
  }
  ASSERT_EQ(recorded.service.Count("Close"), 1u);
  EXPECT_EQ(recorded.service.Of("Close")[0].key, handle);
  EXPECT_TRUE(recorded.service.open.empty());
}

// A local key whose error is set beforehand, so that a call that changes it
// shows.
class LocalKeyRoot : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(key.SetKey(nullptr, HKEY_CURRENT_USER, "Software", 0));
    key.m_lError = 77;
  }
  Recorded recorded;
  qorCRegKey key;
};

TEST_F(LocalKeyRoot, AcquireRootIsThePredefinedHandle) {
  EXPECT_EQ(key.AcquireRoot(), HKEY_CURRENT_USER);
  EXPECT_EQ(key.m_lError, 77);
  EXPECT_TRUE(recorded.service.calls.empty());
}

TEST_F(LocalKeyRoot, ReleaseRootClosesNeitherNullNorTheOwnRoot) {
  key.ReleaseRoot(HKEY_CURRENT_USER);
  key.ReleaseRoot(nullptr);
  EXPECT_EQ(key.m_lError, 77);
  EXPECT_TRUE(recorded.service.calls.empty());
}

TEST(KeyRoots, AcquireRootOfAnUnnamedKeyIsNull) {
  Recorded recorded;
  qorCRegKey unnamed;
  unnamed.m_lError = 77;
  EXPECT_EQ(unnamed.AcquireRoot(), nullptr);
  EXPECT_EQ(unnamed.m_lError, 77);
  EXPECT_TRUE(recorded.service.calls.empty());
}

TEST(KeyRoots, RemoteOpenConnectsAndClosesTheConnectionAtOnce) {
  for (const LONG openResult : {LONG{0}, LONG{ERROR_ACCESS_DENIED}}) {
    SCOPED_TRACE(openResult);
    Recorded recorded;
    const HKEY connection = reinterpret_cast<HKEY>(0x5150);
    recorded.service.connect = [&](LPCSTR, HKEY, PHKEY out) {
      *out = connection;
      return 0L;
    };
    recorded.service.createKey = [&](HKEY, LPCSTR, REGSAM, PHKEY out, LPDWORD disposition) {
      *out = reinterpret_cast<HKEY>(0x6160);
      *disposition = REG_CREATED_NEW_KEY;
      return openResult;
    };
    qorCRegKey key;
    ASSERT_TRUE(key.SetKey("remote-host", HKEY_LOCAL_MACHINE, "Software\\A", 0));
    EXPECT_EQ(key.Open(), openResult == 0);
    EXPECT_EQ(key.m_lError, openResult);
    ASSERT_EQ(recorded.service.calls.size(), 3u);
    EXPECT_EQ(recorded.service.calls[0].fn, "Connect");
    EXPECT_EQ(recorded.service.calls[0].text, "\\\\remote-host");
    EXPECT_EQ(recorded.service.calls[0].key, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(recorded.service.calls[1].fn, "Create");
    EXPECT_EQ(recorded.service.calls[1].key, connection);
    EXPECT_EQ(recorded.service.calls[1].text, "Software\\A");
    EXPECT_EQ(recorded.service.calls[2].fn, "Close");
    EXPECT_EQ(recorded.service.calls[2].key, connection);
    EXPECT_EQ(key.IsOpen(), openResult == 0);
    EXPECT_EQ(key.WasCreated(), openResult == 0);
    key.Close();
  }
}

TEST(KeyRoots, ThisMachinesOwnNameCountsAsRemote) {
  ScratchKey scratch("remote-self");
  const std::string machine = ComputerName();
  Recorded recorded;
  qorCRegKey key;
  ASSERT_TRUE(key.SetKey(machine.c_str(), scratch.root(), scratch.path().c_str(), 0));
  EXPECT_FALSE(key.IsLocal());
  ASSERT_TRUE(key.Open()) << key.m_lError;
  EXPECT_TRUE(key.WasCreated());
  ASSERT_EQ(recorded.service.Count("Connect"), 1u);
  EXPECT_EQ(recorded.service.Of("Connect")[0].text, "\\\\" + machine);
  EXPECT_EQ(recorded.service.Of("Connect")[0].result, 0);
  EXPECT_STREQ(key.GetFullName(),
               ("\\\\" + machine + "\\HKEY_CURRENT_USER\\" + scratch.path()).c_str());
  key.Close();
  EXPECT_TRUE(recorded.service.open.empty());  // the connection too
  EXPECT_TRUE(KeyExists(scratch.root(), scratch.path()));
  for (const regkey::test::Call& call : recorded.service.Of("Close"))
    EXPECT_FALSE(regkey::test::IsPredefinedRoot(call.key));
}

TEST(KeyRoots, CloseAfterLeavesARemoteKeyOpen) {
  ScratchKey scratch("remote-close-after");
  qorCRegKey key;
  ASSERT_TRUE(key.SetKey(ComputerName().c_str(), scratch.root(), scratch.path().c_str(), 0));
  const BYTE byte = 1;
  EXPECT_TRUE(key.SetValue("v", &byte, 1, REG_BINARY, true));
  EXPECT_TRUE(key.IsOpen());
}

TEST(KeyRoots, UnreachableMachine) {
  Recorded recorded;
  qorCRegKey key;
  ASSERT_TRUE(key.SetKey("regkey-no-such-host", HKEY_CURRENT_USER, "Software\\regkey-tests", 0));
  EXPECT_FALSE(key.Open());
  // Windows and Wine report ERROR_BAD_NETPATH.
  EXPECT_EQ(key.m_lError, ERROR_BAD_NETPATH);
  EXPECT_EQ(key.GetKeyHandle(), nullptr);
  EXPECT_TRUE(recorded.service.open.empty());
  EXPECT_EQ(recorded.service.Count("Create"), 0u);
}

// Counts the calls to the virtual operations that the class's own operations
// make, and can fail them.
class Spy : public qorCRegKey {
 public:
  int opens = 0, closes = 0, acquires = 0, releases = 0, locals = 0, isOpens = 0, subKeys = 0,
      notifies = 0;
  bool failOpen = false;
  bool claimRemote = false;
  bool Open() override {
    ++opens;
    return failOpen ? (m_lError = 1234, false) : qorCRegKey::Open();
  }
  void Close() override {
    ++closes;
    qorCRegKey::Close();
  }
  bool IsOpen() const override {
    ++const_cast<Spy*>(this)->isOpens;
    return qorCRegKey::IsOpen();
  }
  HKEY AcquireRoot() override {
    ++acquires;
    return qorCRegKey::AcquireRoot();
  }
  void ReleaseRoot(HKEY root) override {
    ++releases;
    qorCRegKey::ReleaseRoot(root);
  }
  bool IsLocal() const override {
    ++const_cast<Spy*>(this)->locals;
    return !claimRemote && qorCRegKey::IsLocal();
  }
  bool DeleteAllSubKeys(bool closeAfter) override {
    ++subKeys;
    return qorCRegKey::DeleteAllSubKeys(closeAfter);
  }
  bool NotifyChange(CEvent& event, DWORD filter, bool subtree, bool closeAfter) override {
    ++notifies;
    return qorCRegKey::NotifyChange(event, filter, subtree, closeAfter);
  }
};

struct VirtualsFixture : ::testing::Test {
  ScratchKey scratch{"virtuals"};
  Spy key;
  const BYTE byte = 1;
  void SetUp() override {
    ASSERT_TRUE(key.SetKey(nullptr, scratch.root(), scratch.path().c_str(), 0));
  }
};

TEST_F(VirtualsFixture, SetKeyClosesThroughTheVirtualClose) { EXPECT_EQ(key.closes, 1); }

TEST_F(VirtualsFixture, OpenAcquiresAndReleasesTheRootThroughTheVirtuals) {
  ASSERT_TRUE(key.Open());
  EXPECT_EQ(key.acquires, 1);
  EXPECT_EQ(key.releases, 1);
}

TEST_F(VirtualsFixture, ValueOperationsOpenAndCloseThroughTheVirtuals) {
  ASSERT_TRUE(key.SetValue("v", &byte, 1, REG_BINARY, true));
  EXPECT_EQ(key.opens, 1);
  EXPECT_EQ(key.locals, 1);
  EXPECT_EQ(key.closes, 2);
  EXPECT_FALSE(key.IsOpen());
}

TEST_F(VirtualsFixture, AnIsLocalOverrideDecidesTheCloseAfterRule) {
  key.claimRemote = true;
  ASSERT_TRUE(key.SetValue("v", &byte, 1, REG_BINARY, true));
  EXPECT_TRUE(key.IsOpen());
  EXPECT_EQ(key.closes, 1);
}

TEST_F(VirtualsFixture, AFailingOpenOverrideStopsTheOperation) {
  Recorded recorded;
  key.failOpen = true;
  EXPECT_FALSE(key.SetValue("v", &byte, 1, REG_BINARY));
  EXPECT_EQ(key.m_lError, 1234);
  EXPECT_TRUE(recorded.service.calls.empty());
}

TEST_F(VirtualsFixture, DeleteKeyGoesThroughDeleteAllSubKeysAndTheRootVirtuals) {
  ASSERT_TRUE(key.Open());
  const int acquires = key.acquires, releases = key.releases, closes = key.closes;
  ASSERT_TRUE(key.DeleteKey());
  EXPECT_EQ(key.subKeys, 1);
  EXPECT_EQ(key.acquires, acquires + 1);
  EXPECT_EQ(key.releases, releases + 1);
  EXPECT_GT(key.closes, closes);
}

TEST_F(VirtualsFixture, WaitForChangeArmsThroughTheVirtualNotifyChange) {
  EXPECT_FALSE(key.WaitForChange(1, qorCRegKey::filterDefault, true, true));
  EXPECT_EQ(key.notifies, 1);
  EXPECT_GE(key.isOpens, 1);
  EXPECT_FALSE(key.IsOpen());
}

}  // namespace
