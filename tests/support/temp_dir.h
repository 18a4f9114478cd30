// A private temporary folder for one test, removed with everything in it afterwards.
#pragma once

#include <string>
#include <string_view>

namespace upd::test {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder, with a trailing '/'.
    const std::string& path() const { return m_path; }

    // path() + name.
    std::string file(std::string_view name) const;

    // Writes `bytes` to path() + name (creating folders along the way) and returns the path.
    std::string write(std::string_view name, std::string_view bytes) const;

  private:
    std::string m_path;
};

// The whole content of a file; empty when it cannot be read.
std::string readFile(const std::string& path);

}  // namespace upd::test
