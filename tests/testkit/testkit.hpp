// Helpers shared by the test programs.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace testkit {

// A fresh folder under the system's temporary folder, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& bytes);

// The lines of a file split on "\r\n" (a lone "\n" stays inside a line).
std::vector<std::string> ReadCrlfLines(const std::filesystem::path& path);

// The file system is full as far as this process can tell: while it lives,
// every write that would make a regular file longer fails (EFBIG), while
// sockets go on working. The log only appends to regular files, so a full
// device is played this way.
class FullFileSystem {
 public:
  FullFileSystem();
  ~FullFileSystem();
  FullFileSystem(const FullFileSystem&) = delete;
  FullFileSystem& operator=(const FullFileSystem&) = delete;

 private:
  unsigned long long savedLimit_ = 0;
  void (*savedHandler_)(int) = nullptr;
};

// Sets (or with nullopt unsets) an environment variable for the scope.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, std::optional<std::string> value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// The repository's root, for files such as sql/.
std::filesystem::path SourceDir();

}  // namespace testkit
