#include "tests/qreg/qreg_runner.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace qreg::test {
namespace {

std::string Scratch(const char* what) {
  static std::atomic<int> counter{0};
  return std::string(QREG_TEST_DIR) + "/child-" + std::to_string(REGKEY_TEST_PID) + "-" +
         std::to_string(++counter) + "." + what;
}

#ifdef _WIN32
std::string Exe() {
  std::string exe = QREG_EXE;
  if (exe.starts_with("/")) {  // a Unix path: Wine's Z: drive
    for (char& c : exe) c = c == '/' ? '\\' : c;
    exe = "Z:" + exe;
  }
  return exe;
}

// The C runtime's rules: backslashes are literal unless they precede a quote.
std::string Quote(const std::string& arg) {
  std::string quoted = "\"";
  size_t slashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++slashes;
      continue;
    }
    quoted.append(c == '"' ? 2 * slashes + 1 : slashes, '\\');
    slashes = 0;
    quoted += c;
  }
  quoted.append(2 * slashes, '\\');
  return quoted + "\"";
}

HANDLE Inherited(const std::string& path, bool write) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return CreateFileA(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                     write ? CREATE_ALWAYS : OPEN_EXISTING, 0, nullptr);
}
#endif

}  // namespace

Child::Child(Child&& other) noexcept
    : id(other.id),
      out(std::move(other.out)),
      err(std::move(other.err)),
      input(std::move(other.input)),
      merged(other.merged) {
  other.id = 0;
}

Child::~Child() {
  if (id == 0) return;
#ifdef _WIN32
  HANDLE process = reinterpret_cast<HANDLE>(id);
  TerminateProcess(process, 1);
  WaitForSingleObject(process, INFINITE);
  CloseHandle(process);
#else
  kill(static_cast<pid_t>(id), SIGTERM);
  waitpid(static_cast<pid_t>(id), nullptr, 0);
#endif
}

std::string Store() { return std::string(QREG_TEST_DIR) + "/qreg_tool_tests.regstore"; }

Child Start(const std::vector<std::string>& args, const std::string& input, bool merged) {
  Child child;
  child.out = Scratch("out");
  child.err = merged ? child.out : Scratch("err");
  child.input = input;
  child.merged = merged;
#ifdef _WIN32
  std::string command = Quote(Exe());
  for (const std::string& arg : args) command += " " + Quote(arg);
  HANDLE in = input.empty() ? Inherited("NUL", false) : Inherited(input, false);
  HANDLE out = Inherited(child.out, true);
  HANDLE err = merged ? out : Inherited(child.err, true);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                     &process)) {
    CloseHandle(process.hThread);
    child.id = reinterpret_cast<long long>(process.hProcess);
  }
  CloseHandle(in);
  CloseHandle(out);
  if (!merged) CloseHandle(err);
#else
  std::vector<std::string> argv = {QREG_EXE, "--store", Store()};
  argv.insert(argv.end(), args.begin(), args.end());
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open(input.empty() ? "/dev/null" : input.c_str(), O_RDONLY);
    const int out = open(child.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = merged ? out : open(child.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char*> pointers;
    for (std::string& arg : argv) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    execv(QREG_EXE, pointers.data());
    _exit(127);
  }
  child.id = pid;
#endif
  return child;
}

Result Finish(Child& child) {
  Result result;
  if (child.id == 0) return {-1, "cannot start " QREG_EXE, ""};
#ifdef _WIN32
  HANDLE process = reinterpret_cast<HANDLE>(child.id);
  WaitForSingleObject(process, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  result.code = static_cast<int>(code);
#else
  int status = 0;
  waitpid(static_cast<pid_t>(child.id), &status, 0);
  result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
  child.id = 0;
  result.out = Plain(FileText(child.out));
  std::remove(child.out.c_str());
  if (!child.merged) {
    result.err = Plain(FileText(child.err));
    std::remove(child.err.c_str());
  }
  return result;
}

Result Qreg(const std::vector<std::string>& args, const std::string& input) {
  Child child = Start(args, input);
  return Finish(child);
}

Result QregApart(const std::vector<std::string>& args) {
  Child child = Start(args, "", false);
  return Finish(child);
}

#ifndef _WIN32
Result Shell(const std::string& command) {
  Result result;
  FILE* pipe = popen((command + " </dev/null 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
  const int status = pclose(pipe);
  result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}
#endif

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string Utf16Text(const std::string& bytes) {
  if (!bytes.starts_with("\xFF\xFE")) return "(no UTF-16LE byte-order mark)";
  std::string text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) text += bytes[i];
  return text;
}

std::string Plain(const std::string& out) {
  std::string text;
  for (char c : out)
    if (c != '\r') text += c;
  return text;
}

bool FileShows(const std::string& file, const std::string& text) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < end) {
    if (Plain(FileText(file)).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

Tool::Tool()
    : file_(std::string(QREG_TEST_DIR) + "/" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".reg") {
  std::remove(file_.c_str());
}

Tool::~Tool() { std::remove(file_.c_str()); }

}  // namespace qreg::test
