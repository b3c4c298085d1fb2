#pragma once
// What a process holds, to show that nothing leaks.

#include <filesystem>
#include <iterator>

namespace testing_support {

inline int CountEntries(const char* dir) {
  return static_cast<int>(std::distance(std::filesystem::directory_iterator(dir), {}));
}
inline int OpenDescriptors() { return CountEntries("/proc/self/fd"); }
inline int Threads() { return CountEntries("/proc/self/task"); }

}  // namespace testing_support
