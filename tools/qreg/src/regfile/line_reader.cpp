#include "tools/qreg/src/regfile/line_reader.h"

#include <algorithm>
#include <cstring>

namespace qreg {
namespace {

constexpr size_t kChunk = 64 * 1024;

}  // namespace

bool StringSource::Read(char* buffer, size_t size, size_t& got) {
  got = std::min(size, bytes_.size());
  std::memcpy(buffer, bytes_.data(), got);
  bytes_.remove_prefix(got);
  return true;
}

LineReader::LineReader(ByteSource& source, size_t maxLine) : source_(source), maxLine_(maxLine) {}

bool LineReader::Stop(std::string why) {
  failure_ = std::move(why);
  ended_ = true;
  raw_.clear();
  raw_.shrink_to_fit();
  return false;
}

// Appends a chunk to what is left of the buffer; false at the end or on a
// read failure.
bool LineReader::Fill() {
  buffer_.erase(0, taken_);
  taken_ = 0;
  const size_t kept = buffer_.size();
  buffer_.resize(kept + kChunk);
  size_t got = 0;
  const bool ok = source_.Read(buffer_.data() + kept, kChunk, got);
  buffer_.resize(kept + got);
  if (!ok) return Stop("the file could not be read");
  return got != 0;
}

bool LineReader::Next(std::string& line) {
  line.clear();
  if (ended_) return false;
  if (!started_) {
    while (buffer_.size() < 3 && Fill()) {
    }
    if (!failure_.empty()) return false;
    size_t mark = 0;
    encoding_ = DetectEncoding(buffer_, mark);
    taken_ = mark;
    started_ = true;
  }
  const size_t unit = UnitSize(encoding_);
  raw_.clear();
  bool broken = false;  // the line ended at a line break
  while (!broken) {
    // Whole units only; a lone last byte waits for the next chunk.
    const size_t usable = taken_ + (buffer_.size() - taken_) / unit * unit;
    size_t end = taken_;
    while (end < usable && !(buffer_[end] == '\n' && (unit == 1 || buffer_[end + 1] == '\0')))
      end += unit;
    raw_.append(buffer_, taken_, end - taken_);
    if (raw_.size() / unit > maxLine_)
      return Stop("a line longer than " + std::to_string(maxLine_) + " characters");
    if (end < usable) {
      taken_ = end + unit;
      broken = true;
      break;
    }
    taken_ = end;
    if (!Fill()) {
      if (!failure_.empty()) return false;
      if (buffer_.size() > taken_) return Stop("the file ends in half a UTF-16 character");
      ended_ = true;
      // Text after the last line break is a last line; nothing after it is none.
      if (raw_.empty()) return false;
      break;
    }
  }
  ++number_;
  if (raw_.size() >= unit && raw_[raw_.size() - unit] == '\r' && (unit == 1 || raw_.back() == '\0'))
    raw_.resize(raw_.size() - unit);
  auto text = DecodeText(encoding_, raw_);
  if (!text) {
    --number_;
    return Stop("text that does not decode");
  }
  if (text->find('\0') != std::string::npos) {
    --number_;
    return Stop("a zero byte in the text");
  }
  line = std::move(*text);
  return true;
}

}  // namespace qreg
