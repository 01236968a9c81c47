// A file the tool reads, or standard input for "-", read as bytes.
#pragma once

#include <cstdio>
#include <string>

#include "tools/qreg/src/regfile/line_reader.h"

namespace qreg {

class InputFile final : public ByteSource {
 public:
  InputFile() = default;
  ~InputFile() override;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Opens path ("-": standard input); false with the reason in why.
  bool Open(const std::string& path, std::string& why);
  bool Read(char* buffer, size_t size, size_t& got) override;

 private:
  std::FILE* file_ = nullptr;
  bool owned_ = false;
};

}  // namespace qreg
