#include "fuzzsupport.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <system_error>

#include <unistd.h>

namespace veltrano::fuzz {

const CodePage &bigFive()
{
    static const CodePage cp("CP950");
    return cp;
}

Scratch &Scratch::instance()
{
    static Scratch scratch;
    return scratch;
}

Scratch::Scratch()
{
    std::string pattern =
            (std::filesystem::temp_directory_path() / "veltrano-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        std::abort();
    }
    m_root = pattern;
    m_path = m_root / "cache";
    std::filesystem::create_directory(m_path);
    m_folder = m_path.string() + "/";
}

Scratch::~Scratch()
{
    std::error_code ec;
    std::filesystem::remove_all(m_root, ec);
}

void Scratch::reset()
{
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(m_path, ec))
        std::filesystem::remove_all(entry.path(), ec);
}

void Scratch::write(const std::filesystem::path &name, std::string_view bytes) const
{
    std::ofstream out(m_path / name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

bool Scratch::holds(const std::filesystem::path &path) const
{
    const std::string name = path.filename().string();
    return path.parent_path() == m_path && !name.empty() && name != "." && name != ".."
            && name.size() < 200;
}

void require(bool holds, std::string_view what)
{
    if (holds)
        return;
    std::fprintf(stderr, "broken invariant: %.*s\n", int(what.size()), what.data());
    std::abort();
}

} // namespace veltrano::fuzz
