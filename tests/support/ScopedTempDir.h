// A fresh, empty folder for one test, removed with everything in it when the test ends.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <system_error>

namespace tarvix {

class ScopedTempDir {
 public:
  ScopedTempDir() {
    std::error_code error;
    const std::filesystem::path base = std::filesystem::temp_directory_path(error);
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::filesystem::path candidate = base / ("tarvix-test-" + std::to_string(random()));
      if (std::filesystem::create_directory(candidate, error)) {
        path_ = candidate.string();
        return;
      }
    }
  }
  ~ScopedTempDir() {
    if (!path_.empty()) {
      std::error_code error;
      std::filesystem::remove_all(path_, error);
    }
  }
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  // The folder, without a trailing separator; empty if it could not be made.
  const std::string& path() const { return path_; }

  // The full path of `name` inside the folder; an absolute `name` is returned as it is.
  std::string PathOf(std::string_view name) const {
    return (std::filesystem::path(path_) / name).string();
  }

  // Writes `bytes` to `name` (replacing it) and returns its full path.
  std::string WriteFile(std::string_view name, std::string_view bytes) const {
    const std::string full = PathOf(name);
    std::ofstream file(full, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return full;
  }

  // The bytes of `name` (a name in the folder or an absolute path); empty if unreadable.
  std::string ReadFile(std::string_view name) const {
    std::ifstream file(PathOf(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }

 private:
  std::string path_;
};

}  // namespace tarvix
