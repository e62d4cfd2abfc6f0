// A fresh folder under the system's temporary folder, removed with its contents.
#pragma once

#include <filesystem>
#include <string>

namespace lumirex::bench {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace lumirex::bench
