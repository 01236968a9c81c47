// A GoogleTest program that ends the way its argument asks, for the test of
// the runner that judges test programs: pass, fail, crash, throw (an
// exception no one catches), hang, exit-after (a nonzero exit status after
// a passing summary) or silent (exits 0 before any summary).
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace {

std::string mode;

TEST(Probe, EndsAsAsked) {
  if (mode == "fail") ADD_FAILURE() << "failing as asked";
  if (mode == "crash") {
    volatile std::uintptr_t address = 0;
    *reinterpret_cast<volatile int*>(address) = 1;
  }
  if (mode == "throw") {
    // Thrown on a thread of its own, where GoogleTest does not catch it.
    std::thread([] { throw std::runtime_error("thrown as asked"); }).join();
  }
  if (mode == "hang") std::this_thread::sleep_for(std::chrono::hours(1));
  if (mode == "silent") std::_Exit(0);
}

TEST(Probe, Skips) { GTEST_SKIP() << "skipped tests count as passed"; }

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc > 1) mode = argv[1];
  if (mode == "exit-after") std::atexit([] { std::_Exit(3); });
  return RUN_ALL_TESTS();
}
