#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace veltrano::test {

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::filesystem::path &path() const { return m_path; }
    // The folder as a cache folder: native path with a trailing '/'.
    std::string folder() const { return m_path.string() + "/"; }

private:
    std::filesystem::path m_path;
};

void writeFile(const std::filesystem::path &path, std::string_view bytes);
std::string readFile(const std::filesystem::path &path);
// Makes the file `size` bytes long without writing them (a sparse file of zeros).
void resizeFile(const std::filesystem::path &path, uint64_t size);

} // namespace veltrano::test
