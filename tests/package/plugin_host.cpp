// Loads the plugin with dlopen, as a host program loads its plugins, and runs
// its round trip.
#include <cstdio>
#include <dlfcn.h>

int main(int argc, char** argv) {
  if (argc != 2) return 1;
  void* plugin = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (plugin == nullptr) {
    std::printf("regkey plugin: %s\n", dlerror());
    return 1;
  }
  using Roundtrip = int (*)();
  auto roundtrip = reinterpret_cast<Roundtrip>(dlsym(plugin, "regkey_plugin_roundtrip"));
  const int result = roundtrip != nullptr ? roundtrip() : -1;
  dlclose(plugin);
  std::printf("regkey plugin: %s (%d)\n", result == 0 ? "ok" : "failed", result);
  return result == 0 ? 0 : 1;
}
