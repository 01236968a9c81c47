// Eight threads on one tree for a few seconds: opening, creating, setting,
// querying, listing, deleting and arming change requests, while one thread
// keeps closing the handle the others share. Every call must give one of the
// codes its situation allows, every value read must be one that was
// written, and every request armed must have ended once all is closed.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/scratch_key.h"

namespace {

using regkey::test::ScratchKey;
using Clock = std::chrono::steady_clock;

constexpr int kSharedKeys = 4;
constexpr auto kRunFor = std::chrono::milliseconds(2500);
constexpr std::size_t kMaxPending = 2000;  // requests an arming thread keeps
constexpr DWORD kChildWriter = 99;         // the stamp the children's values carry

// A value's data names its writer and round and checks itself, so a value
// read back whole can be told from a torn or foreign one.
struct Stamp {
  DWORD writer;
  DWORD round;
  DWORD check;
};
DWORD CheckOf(DWORD writer, DWORD round) { return writer * 2654435761u ^ round ^ 0x5a5a5a5au; }

std::string ValueName(DWORD writer, DWORD round) {
  std::string name = "v";
  name += std::to_string(writer);
  name += '-';
  name += std::to_string(round % 8);
  return name;
}

struct Rng {
  std::uint32_t state;
  std::uint32_t Next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  }
  std::uint32_t Below(std::uint32_t n) { return Next() % n; }
};

class Stress {
 public:
  explicit Stress(const ScratchKey& scratch) : scratch_(scratch) {
    for (int i = 0; i < kSharedKeys; ++i) {
      HKEY key = nullptr;
      if (RegCreateKeyExA(HKEY_CURRENT_USER, KeyPath(i).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                          nullptr, &key, nullptr) == ERROR_SUCCESS)
        RegCloseKey(key);
    }
    shared_ = OpenShared(0);
  }

  std::string KeyPath(int i) const { return scratch_ / ("k" + std::to_string(i)); }

  // A handle of its own on one of the shared keys (created if need be).
  HKEY OpenShared(int i) {
    HKEY key = nullptr;
    const LONG rc = RegCreateKeyExA(HKEY_CURRENT_USER, KeyPath(i).c_str(), 0, nullptr, 0,
                                    KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) Fail("create k" + std::to_string(i), rc);
    return rc == ERROR_SUCCESS ? key : nullptr;
  }

  void Fail(const std::string& what, LONG rc) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failures_.size() < 20) failures_.push_back(what + ": " + std::to_string(rc));
  }

  // The codes a call on a handle that may be closed, or on keys that
  // others delete, may give besides success.
  void Expect(const char* what, LONG rc, std::initializer_list<LONG> alsoAllowed = {}) {
    if (rc == ERROR_SUCCESS || rc == ERROR_INVALID_HANDLE || rc == ERROR_KEY_DELETED) return;
    for (LONG allowed : alsoAllowed)
      if (rc == allowed) return;
    Fail(what, rc);
  }

  // A call through the shared handle, which another thread may have closed:
  // on Windows (and Wine) its value may name another object by then, and a
  // handle of another kind without the rights asked for gives
  // ERROR_ACCESS_DENIED. The embedded registry never reuses handle values.
  void ExpectShared(const char* what, LONG rc, std::initializer_list<LONG> alsoAllowed = {}) {
#ifdef _WIN32
    if (rc == ERROR_ACCESS_DENIED) return;
#endif
    Expect(what, rc, alsoAllowed);
  }

  void ExpectVia(bool shared, const char* what, LONG rc,
                 std::initializer_list<LONG> alsoAllowed = {}) {
    if (shared) {
      ExpectShared(what, rc, alsoAllowed);
    } else {
      Expect(what, rc, alsoAllowed);
    }
  }

  bool Running() const { return Clock::now() < end_; }

  // Keeps replacing the shared handle with a new one and closing the old,
  // while the others use it.
  void Closer(Rng rng) {
    for (int round = 0; Running(); ++round) {
      HKEY fresh = OpenShared(round % kSharedKeys);
      HKEY old = shared_.exchange(fresh);
      for (std::uint32_t spin = rng.Below(2000); spin > 0; --spin) std::this_thread::yield();
      if (old != nullptr) Expect("close the shared handle", RegCloseKey(old));
    }
  }

  void Writer(DWORD writer, Rng rng) {
    for (DWORD round = 0; Running(); ++round) {
      const std::string name = ValueName(writer, round);
      const Stamp stamp{writer, round, CheckOf(writer, round)};
      const auto* data = reinterpret_cast<const BYTE*>(&stamp);
      if (rng.Below(2) == 0) {
        ExpectShared(
            "set through the shared handle",
            RegSetValueExA(shared_.load(), name.c_str(), 0, REG_BINARY, data, sizeof stamp));
      } else {
        HKEY own = OpenShared(static_cast<int>(rng.Below(kSharedKeys)));
        if (own == nullptr) continue;
        Expect("set", RegSetValueExA(own, name.c_str(), 0, REG_BINARY, data, sizeof stamp));
        if (rng.Below(4) == 0)
          Expect("delete a value", RegDeleteValueA(own, name.c_str()), {ERROR_FILE_NOT_FOUND});
        Expect("close", RegCloseKey(own));
      }
    }
  }

  void CheckStamp(const char* what, const char* name, DWORD type, const Stamp& stamp, DWORD size) {
    if (type != REG_BINARY || size != sizeof stamp ||
        stamp.check != CheckOf(stamp.writer, stamp.round) ||
        ValueName(stamp.writer, stamp.round) != name)
      Fail(std::string(what) + " read a value that was never written: " + name, 0);
  }

  void Reader(Rng rng) {
    while (Running()) {
      const std::string name = ValueName(1 + rng.Below(2), rng.Below(8));
      Stamp stamp{};
      DWORD type = 0, size = sizeof stamp;
      const LONG rc = RegQueryValueExA(shared_.load(), name.c_str(), nullptr, &type,
                                       reinterpret_cast<BYTE*>(&stamp), &size);
      ExpectShared("query", rc, {ERROR_FILE_NOT_FOUND});
      if (rc == ERROR_SUCCESS) CheckStamp("query", name.c_str(), type, stamp, size);
    }
  }

  void Lister() {
    while (Running()) {
      HKEY key = shared_.load();
      DWORD subKeys = 0, values = 0;
      ExpectShared("query info",
                   RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr,
                                    &values, nullptr, nullptr, nullptr, nullptr));
      for (DWORD index = 0;; ++index) {
        char name[64];
        DWORD length = sizeof name, type = 0;
        Stamp stamp{};
        DWORD size = sizeof stamp;
        const LONG rc = RegEnumValueA(key, index, name, &length, nullptr, &type,
                                      reinterpret_cast<BYTE*>(&stamp), &size);
        ExpectShared("list values", rc, {ERROR_NO_MORE_ITEMS});
        if (rc != ERROR_SUCCESS) break;
        CheckStamp("list values", name, type, stamp, size);
      }
      for (DWORD index = 0;; ++index) {
        char name[64];
        DWORD length = sizeof name;
        const LONG rc =
            RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        ExpectShared("list subkeys", rc, {ERROR_NO_MORE_ITEMS});
        if (rc != ERROR_SUCCESS) break;
        if (length != std::strlen(name) || name[0] != 'c')
          Fail(std::string("listed a subkey no one made: ") + name, 0);
      }
    }
  }

  // Creates, opens and deletes children of the shared keys, through the
  // shared handle and through its own.
  void Creator(Rng rng) {
    while (Running()) {
      const std::string child = "c" + std::to_string(rng.Below(6));
      HKEY key = nullptr;
      const bool viaShared = rng.Below(2) == 0;
      HKEY base = viaShared ? shared_.load() : OpenShared(static_cast<int>(rng.Below(kSharedKeys)));
      if (base == nullptr) continue;
      LONG rc = RegCreateKeyExA(base, child.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                nullptr);
      ExpectVia(viaShared, "create a child", rc);
      if (rc == ERROR_SUCCESS) {
        const Stamp stamp{kChildWriter, 0, CheckOf(kChildWriter, 0)};
        Expect("set in a child",
               RegSetValueExA(key, ValueName(kChildWriter, 0).c_str(), 0, REG_BINARY,
                              reinterpret_cast<const BYTE*>(&stamp), sizeof stamp));
        Expect("close a child", RegCloseKey(key));
      }
      rc = RegOpenKeyExA(base, child.c_str(), 0, KEY_READ, &key);
      ExpectVia(viaShared, "open a child", rc, {ERROR_FILE_NOT_FOUND});
      if (rc == ERROR_SUCCESS) Expect("close a child", RegCloseKey(key));
      // Wine reuses handle values: a closed shared handle may name a child by
      // now, and a child made below it keeps its parent from being deleted.
      ExpectVia(viaShared, "delete a child", RegDeleteKeyA(base, child.c_str()),
                {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED});
      if (!viaShared) Expect("close", RegCloseKey(base));
    }
  }

  // Arms requests on the shared handle and on handles of its own, which it
  // closes now and then. Half watch attributes, which nothing here changes:
  // only the close of their handle can end them. Requests still pending are
  // kept, at most kMaxPending, to be checked at the end.
  void Armer(Rng rng, std::vector<HANDLE>& pending) {
    HKEY own = nullptr;
    while (Running()) {
      if (pending.size() >= kMaxPending) Sweep(pending);
      if (own == nullptr) own = OpenShared(static_cast<int>(rng.Below(kSharedKeys)));
      if (pending.size() < kMaxPending) {
        HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (event == nullptr) {
          Fail("create an event", static_cast<LONG>(GetLastError()));
          break;
        }
        const bool viaShared = own == nullptr || rng.Below(2) == 0;
        const DWORD filter = rng.Below(2) == 0
                                 ? REG_NOTIFY_CHANGE_ATTRIBUTES
                                 : REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;
        const LONG rc =
            RegNotifyChangeKeyValue(viaShared ? shared_.load() : own,
                                    filter != REG_NOTIFY_CHANGE_ATTRIBUTES, filter, event, TRUE);
        ExpectVia(viaShared, "arm", rc);
        if (rc == ERROR_SUCCESS) {
          pending.push_back(event);
          armed_.fetch_add(1, std::memory_order_relaxed);
        } else {
          CloseHandle(event);
        }
      }
      if (own != nullptr && rng.Below(8) == 0) {
        Expect("close an armed handle", RegCloseKey(own));
        own = nullptr;
      }
    }
    if (own != nullptr) Expect("close an armed handle", RegCloseKey(own));
  }

  // Drops the requests that have ended.
  static void Sweep(std::vector<HANDLE>& pending) {
    std::erase_if(pending, [](HANDLE event) {
      if (WaitForSingleObject(event, 0) != WAIT_OBJECT_0) return false;
      CloseHandle(event);
      return true;
    });
  }

  void Run() {
    end_ = Clock::now() + kRunFor;
    std::vector<HANDLE> pending[2];
    std::vector<std::thread> threads;
    threads.emplace_back([this] { Closer(Rng{0x9e3779b9u}); });
    threads.emplace_back([this] { Writer(1, Rng{0x12345u}); });
    threads.emplace_back([this] { Writer(2, Rng{0x6789au}); });
    threads.emplace_back([this] { Reader(Rng{0xabcdeu}); });
    threads.emplace_back([this] { Lister(); });
    threads.emplace_back([this] { Creator(Rng{0x13579u}); });
    threads.emplace_back([this, &pending] { Armer(Rng{0x2468au}, pending[0]); });
    threads.emplace_back([this, &pending] { Armer(Rng{0x5bd1eu}, pending[1]); });
    for (std::thread& thread : threads) thread.join();
    if (HKEY last = shared_.exchange(nullptr)) Expect("close the shared handle", RegCloseKey(last));

    // Every handle is closed now, so every request has ended: by a change,
    // or by the close of its handle.
    std::size_t lost = 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(5);
    for (std::vector<HANDLE>& events : pending) {
      for (HANDLE event : events) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (WaitForSingleObject(event, left > 0 ? static_cast<DWORD>(left) : 0) != WAIT_OBJECT_0)
          ++lost;
        CloseHandle(event);
      }
    }
    EXPECT_EQ(0u, lost) << "of " << armed_.load() << " requests armed never ended";
    EXPECT_GT(armed_.load(), 0u);
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::string& failure : failures_) ADD_FAILURE() << failure;
  }

 private:
  const ScratchKey& scratch_;
  std::atomic<HKEY> shared_{nullptr};
  std::atomic<std::size_t> armed_{0};
  Clock::time_point end_;
  std::mutex mutex_;
  std::vector<std::string> failures_;
};

TEST(Stress, EightThreadsOnSharedHandlesGiveSoundResults) {
  ScratchKey scratch("stress");
  Stress stress(scratch);
  stress.Run();
}

}  // namespace
