#include "tools/qreg/src/files/input_file.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace qreg {

InputFile::~InputFile() {
  if (owned_) std::fclose(file_);
}

bool InputFile::Open(const std::string& path, std::string& why) {
  if (path == "-") {
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    file_ = stdin;
    return true;
  }
  file_ = std::fopen(path.c_str(), "rb");
  if (file_ == nullptr) {
    why = std::strerror(errno);
    return false;
  }
  owned_ = true;
  return true;
}

bool InputFile::Read(char* buffer, size_t size, size_t& got) {
  got = std::fread(buffer, 1, size, file_);
  return got != 0 || !std::ferror(file_);
}

}  // namespace qreg
