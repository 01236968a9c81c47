// Loading any bytes as serialised objects, through qorCRegKey::ReadObject (a
// REG_BINARY value) or straight through CArchive over a CMemFile with buffers
// of any size: a tree of fields, or an object graph through the object tags.
// A load either fails with a framework exception or gives an object that
// stores and loads again unchanged.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "framework/afx.h"
#include "framework/afxcoll.h"
#include "fuzz/targets/archive_objects.h"
#include "fuzz/targets/check.h"
#include "fuzz/targets/targets.h"
#include "registry/machines.h"
#include "regkey/qorCRegKey.h"
#include "tests/support/archived_fields.h"

namespace regkey::fuzz {
namespace {

// Every fixed-size type the archive reads, and a string.
struct Leaf : regkey::test::ArchivedFields {
  std::string Bytes() const {
    std::string out;
    auto put = [&out](const auto& field) {
      out.append(reinterpret_cast<const char*>(&field), sizeof field);
    };
    put(by), put(w), put(dw), put(l), put(i), put(u), put(s), put(ch), put(b), put(f), put(d),
        put(ll), put(ull);
    return out + std::string(str.GetString(), static_cast<std::size_t>(str.GetLength()));
  }
};

// A tree: a label, a list of tags, a counted block of raw bytes, a leaf and
// counted children, as a careful application writes one: counts are checked
// against what can follow and nesting is bounded.
struct Node : CObject {
  static constexpr int kMaxDepth = 16;

  CString label;
  CStringArray tags;
  std::string block;
  Leaf leaf;
  std::vector<std::unique_ptr<Node>> children;
  int depth = 0;

  void Serialize(CArchive& ar) override {
    if (ar.IsStoring()) {
      ar << label;
      tags.Serialize(ar);
      ar.WriteCount(block.size());
      ar.Write(block.data(), static_cast<UINT>(block.size()));
      leaf.Serialize(ar);
      ar.WriteCount(children.size());
      for (const auto& child : children) child->Serialize(ar);
      return;
    }
    ar >> label;
    tags.Serialize(ar);
    const DWORD_PTR blockSize = ar.ReadCount();
    block.clear();
    char piece[256];
    for (DWORD_PTR left = blockSize; left > 0;) {
      const UINT want = left < sizeof piece ? static_cast<UINT>(left) : sizeof piece;
      const UINT got = ar.Read(piece, want);
      block.append(piece, got);
      if (got != want) AfxThrowArchiveException(CArchiveException::endOfFile);
      left -= got;
    }
    leaf.Serialize(ar);
    const DWORD_PTR count = ar.ReadCount();
    children.clear();
    for (DWORD_PTR n = 0; n < count; ++n) {
      if (depth >= kMaxDepth) AfxThrowArchiveException(CArchiveException::badSchema);
      auto child = std::make_unique<Node>();
      child->depth = depth + 1;
      child->Serialize(ar);
      children.push_back(std::move(child));
    }
  }

  bool Same(const Node& other) const {
    if (label != other.label || block != other.block || leaf.Bytes() != other.leaf.Bytes() ||
        tags.GetSize() != other.tags.GetSize() || children.size() != other.children.size())
      return false;
    for (INT_PTR k = 0; k < tags.GetSize(); ++k)
      if (tags[k] != other.tags[k]) return false;
    for (std::size_t k = 0; k < children.size(); ++k)
      if (!children[k]->Same(*other.children[k])) return false;
    return true;
  }
};

constexpr char kMachine[] = "fuzz-archive";

// Loads through ReadObject from a value on a private in-memory machine.
bool LoadFromValue(const std::uint8_t* data, std::size_t size, CObject& node) {
  static const bool declared = regkey::registry::DeclareMachine(kMachine, ":memory:") == 0;
  FUZZ_CHECK(declared, "cannot declare the in-memory machine");
  qorCRegKey key;
  key.SetKey(kMachine, HKEY_CURRENT_USER, "Software\\fuzz");
  FUZZ_CHECK(key.SetValue("object", data, static_cast<DWORD>(size), REG_BINARY),
             "cannot store the value: " + std::to_string(key.m_lError));
  return key.ReadObject("object", &node);
}

// Loads through an archive with a buffer of the size the input chooses,
// allocated by the archive or given by the caller.
void LoadFromMemory(std::uint8_t options, const std::uint8_t* data, std::size_t size,
                    CObject& node) {
  std::vector<BYTE> bytes(data, data + size);
  CMemFile file;
  file.Attach(bytes.empty() ? nullptr : bytes.data(), static_cast<UINT>(bytes.size()), 0);
  const int bufSize = 8 + ((options >> 2) & 0x1F) * 4;  // below the archive's minimum too
  std::vector<BYTE> userBuf(static_cast<std::size_t>(bufSize));
  CArchive ar(&file, CArchive::load, bufSize, (options & 2) ? userBuf.data() : nullptr);
  node.Serialize(ar);
  ar.Close();
}

std::string Store(CObject& node) {
  CMemFile file;
  {
    CArchive ar(&file, CArchive::store);
    node.Serialize(ar);
    ar.Close();
  }
  const auto length = static_cast<std::size_t>(file.GetLength());
  return std::string(reinterpret_cast<const char*>(file.GetBufferAddress()), length);
}

// Loads `data` into `loaded` as the options say; false when the load fails
// as a load of bad bytes may (a framework exception of an expected cause).
bool Load(std::uint8_t options, const std::uint8_t* data, std::size_t size, CObject& loaded) {
  try {
    if (options & 1) {
      if (size == 0) return false;  // the key class stores no empty value
      return LoadFromValue(data, size, loaded);
    }
    LoadFromMemory(options, data, size, loaded);
    return true;
  } catch (CArchiveException* e) {
    const int cause = e->m_cause;
    e->Delete();
    FUZZ_CHECK(cause == CArchiveException::endOfFile || cause == CArchiveException::badIndex ||
                   cause == CArchiveException::badSchema || cause == CArchiveException::badClass,
               "unexpected archive exception cause " + std::to_string(cause));
    return false;
  } catch (CMemoryException* e) {
    e->Delete();
    return false;
  }
}

}  // namespace

// Input: an options byte (bit 0: through ReadObject; bit 1: a caller's
// buffer; bits 2-6: the buffer size; bit 7: an object graph through the
// object tags instead of a tree of fields), then the stream.
int FuzzArchive(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t options = data[0];
  if (options & 0x80) {
    ObjectGraph graph;
    if (!Load(options, data + 1, size - 1, graph)) return 0;
    // What loaded stores and loads back the same.
    std::string stored = Store(graph);
    ObjectGraph again;
    LoadFromMemory(0, reinterpret_cast<const std::uint8_t*>(stored.data()), stored.size(), again);
    FUZZ_CHECK(graph.Describe() == again.Describe(),
               "an object graph loaded, stored and loaded again differs:\n" + graph.Describe() +
                   "\n" + again.Describe());
    FUZZ_CHECK(Store(again) == stored, "an object graph stores differently after a round trip");
    return 0;
  }
  Node node;
  if (!Load(options, data + 1, size - 1, node)) return 0;
  // What loaded stores and loads back the same.
  std::string stored = Store(node);
  Node again;
  LoadFromMemory(0, reinterpret_cast<const std::uint8_t*>(stored.data()), stored.size(), again);
  FUZZ_CHECK(node.Same(again), "an object loaded, stored and loaded again differs");
  FUZZ_CHECK(Store(again) == stored, "an object stores differently after a round trip");
  return 0;
}

}  // namespace regkey::fuzz
