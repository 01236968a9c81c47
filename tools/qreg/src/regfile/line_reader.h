// A .reg file read line by line as it streams in: the byte-order mark tells
// the encoding, each line is decoded on its own, and no line may grow past a
// limit, so memory stays bounded by the limit whatever the input holds.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "tools/qreg/src/regfile/text_encoding.h"

namespace qreg {

// Where the bytes come from: a file, standard input, a string.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Up to size bytes into buffer; got 0 at the end. False on a read failure.
  virtual bool Read(char* buffer, size_t size, size_t& got) = 0;
};

class StringSource final : public ByteSource {
 public:
  explicit StringSource(std::string_view bytes) : bytes_(bytes) {}
  bool Read(char* buffer, size_t size, size_t& got) override;

 private:
  std::string_view bytes_;
};

class LineReader {
 public:
  // maxLine: the most characters a line may hold.
  LineReader(ByteSource& source, size_t maxLine);

  // The next line as narrow text, without its line break (LF or CR LF);
  // false at the end or on a failure.
  bool Next(std::string& line);
  // The number of the line Next returned last (1 for the first).
  int Number() const { return number_; }
  // Set when Next failed for another reason than the end: why, and on which
  // line.
  const std::string& Failure() const { return failure_; }
  int FailureLine() const { return number_ + 1; }
  FileEncoding Encoding() const { return encoding_; }

 private:
  bool Fill();
  bool Stop(std::string why);

  ByteSource& source_;
  size_t maxLine_;
  FileEncoding encoding_ = FileEncoding::kNarrow;
  bool started_ = false, ended_ = false;
  std::string buffer_;  // bytes read and not yet taken into a line
  size_t taken_ = 0;    // of buffer_
  std::string raw_;     // the line being read, still encoded
  int number_ = 0;
  std::string failure_;
};

}  // namespace qreg
