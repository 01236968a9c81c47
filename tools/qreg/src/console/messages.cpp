#include "tools/qreg/src/console/messages.h"

#include <cstdio>

namespace qreg {
namespace {

struct Message {
  LONG code;
  const char* text;
};

// Windows' texts, so that both systems print the same; ERROR_FILE_NOT_FOUND
// reads as reg words it for keys and values.
const Message kMessages[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system was unable to find the specified registry key or value."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {13, "The data is invalid."},
    {14, "Not enough memory resources are available to complete this operation."},
    {29, "The system cannot write to the specified device."},
    {30, "The system cannot read from the specified device."},
    {32, "The process cannot access the file because it is being used by another process."},
    {33,
     "The process cannot access the file because another process has locked a portion of "
     "the file."},
    {50, "The request is not supported."},
    {53, "The network path was not found."},
    {80, "The file exists."},
    {87, "The parameter is incorrect."},
    {110, "The system cannot open the device or file specified."},
    {111, "The file name is too long."},
    {112, "There is not enough space on the disk."},
    {120, "This function is not supported on this system."},
    {122, "The data area passed to a system call is too small."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {161, "The specified path is invalid."},
    {170, "The requested resource is in use."},
    {183, "Cannot create a file when that file already exists."},
    {203, "The system could not find the environment option that was entered."},
    {206, "The filename or extension is too long."},
    {234, "More data is available."},
    {259, "No more data is available."},
    {534, "Arithmetic result exceeded 32 bits."},
    {998, "Invalid access to memory location."},
    {1009, "The configuration registry database is corrupt."},
    {1010, "The configuration registry key is invalid."},
    {1011, "The configuration registry key could not be opened."},
    {1012, "The configuration registry key could not be read."},
    {1013, "The configuration registry key could not be written."},
    {1014,
     "One of the files in the registry database had to be recovered by use of a log or "
     "alternate copy. The recovery was successful."},
    {1015,
     "The registry is corrupted. The structure of one of the files containing registry "
     "data is corrupted, or the system's memory image of the file is corrupted, or the "
     "file could not be recovered because the alternate copy or log was absent or "
     "corrupted."},
    {1016,
     "An I/O operation initiated by the registry failed unrecoverably. The registry could "
     "not read in, or write out, or flush, one of the files that contain the system's "
     "image of the registry."},
    {1017,
     "The system has attempted to load or restore a file into the registry, but the "
     "specified file is not in a registry file format."},
    {1018, "Illegal operation attempted on a registry key that has been marked for deletion."},
    {1019, "System could not allocate the required space in a registry log."},
    {1020, "Cannot create a symbolic link in a registry key that already has subkeys or values."},
    {1021, "Cannot create a stable subkey under a volatile parent key."},
    {1223, "The operation was canceled by the user."},
    {1237, "The operation could not be completed. A retry should be performed."},
    {1460, "This operation returned because the timeout period expired."},
    {1722, "The RPC server is unavailable."},
    {1804, "The specified datatype is invalid."},
};

}  // namespace

std::string SystemMessage(LONG code) {
  for (const Message& m : kMessages)
    if (m.code == code) return m.text;
#ifdef _WIN32
  char buffer[512];
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(code), 0, buffer, sizeof buffer, nullptr);
  if (length != 0) {
    std::string message(buffer, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
      message.pop_back();
    return message;
  }
#endif
  char text[64];
  std::snprintf(text, sizeof text, "Error code %ld.", static_cast<long>(code));
  return text;
}

}  // namespace qreg
