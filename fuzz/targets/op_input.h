// Reading a fuzz input as operations: letters, bytes and zero-terminated
// texts. Past the end every read gives zero or the empty text. Inside a text,
// byte 0x01 stands for 255 'L's (the longest key name level), 0x02 for 16383
// 'v's (the longest value name) and 0x04 for 128 levels of a path ("d\" each);
// a text that starts with 0x03 is a null pointer.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

namespace regkey::fuzz {

class OpInput {
 public:
  OpInput(const std::uint8_t* data, std::size_t size) : next_(data), end_(data + size) {}

  bool More() const { return next_ != end_; }
  std::uint8_t Byte() { return next_ != end_ ? *next_++ : 0; }

  // One of `letters`: the byte itself when it is one, else chosen by it.
  char Op(const char* letters) {
    const std::uint8_t byte = Byte();
    if (byte != 0 && std::strchr(letters, byte) != nullptr) return static_cast<char>(byte);
    return letters[byte % std::strlen(letters)];
  }

  std::optional<std::string> Text() {
    std::string text;
    bool null = next_ != end_ && *next_ == 0x03;
    while (next_ != end_ && *next_ != 0) {
      const std::uint8_t c = *next_++;
      if (c == 0x01)
        text.append(255, 'L');
      else if (c == 0x02)
        text.append(16383, 'v');
      else if (c == 0x04)
        for (int level = 0; level < 128; ++level) text += "d\\";
      else
        text += static_cast<char>(c);
    }
    if (next_ != end_) ++next_;
    if (null) return std::nullopt;
    return text;
  }

  std::string Bytes(std::size_t count) {
    const std::size_t n = std::min<std::size_t>(count, static_cast<std::size_t>(end_ - next_));
    std::string bytes(reinterpret_cast<const char*>(next_), n);
    next_ += n;
    return bytes;
  }

 private:
  const std::uint8_t* next_;
  const std::uint8_t* end_;
};

}  // namespace regkey::fuzz
