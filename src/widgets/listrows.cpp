#include "widgets/listrows.h"

#include <cstring>
#include <limits>

#include "util/error.h"

namespace veltrano {

void ListRows::setLayout(int cells, std::vector<bool> pooled)
{
    clear();
    m_cells = cells;
    pooled.resize(size_t(cells), false);
    m_pooled = std::move(pooled);
}

void ListRows::clear()
{
    m_cellOffsets = {};
    m_images = {};
    m_pool = {};
    m_blocks.clear();
    m_blockUsed = 0;
}

uint32_t ListRows::storeText(std::string_view text)
{
    if (text.empty())
        return 0; // offset 0, the first byte of the first block, is never a text's
    const size_t needed = text.size() + 5;
    if (needed > kBlockBytes - 1)
        throw Error("list text too long");
    if (m_blocks.empty() || m_blockUsed + needed > kBlockBytes) {
        if (m_blocks.size() >= (size_t(std::numeric_limits<uint32_t>::max()) >> kBlockShift))
            throw Error("list texts exceed 4 GB");
        m_blocks.push_back(std::make_unique_for_overwrite<char[]>(kBlockBytes));
        m_blockUsed = m_blocks.size() == 1 ? 1 : 0;
    }
    char *block = m_blocks.back().get();
    const auto offset = uint32_t(((m_blocks.size() - 1) << kBlockShift) | m_blockUsed);
    size_t length = text.size();
    while (length >= 0x80) {
        block[m_blockUsed++] = char(0x80 | (length & 0x7F));
        length >>= 7;
    }
    block[m_blockUsed++] = char(length);
    std::memcpy(block + m_blockUsed, text.data(), text.size());
    m_blockUsed += text.size();
    return offset;
}

uint32_t ListRows::storePooled(std::string_view text)
{
    if (text.empty())
        return 0;
    const auto found = m_pool.find(text);
    if (found != m_pool.end())
        return found->second;
    const uint32_t offset = storeText(text);
    m_pool.emplace(std::string(text), offset);
    return offset;
}

RowId ListRows::add(int image, std::span<const std::string_view> texts)
{
    if (m_images.size() >= std::numeric_limits<RowId>::max())
        throw Error("too many list rows");
    const auto id = RowId(m_images.size());
    for (int cell = 0; cell < m_cells; ++cell) {
        const std::string_view value = size_t(cell) < texts.size() ? texts[size_t(cell)]
                                                                   : std::string_view();
        m_cellOffsets.push_back(m_pooled[size_t(cell)] ? storePooled(value)
                                                        : storeText(value));
    }
    m_images.push_back(image);
    return id;
}

std::string_view ListRows::textAt(uint32_t offset) const
{
    if (offset == 0)
        return {};
    const char *block = m_blocks[offset >> kBlockShift].get();
    size_t length = 0;
    int shift = 0;
    size_t pos = offset & (kBlockBytes - 1);
    for (;;) {
        const auto byte = static_cast<unsigned char>(block[pos++]);
        length |= size_t(byte & 0x7F) << shift;
        if (!(byte & 0x80))
            break;
        shift += 7;
    }
    return std::string_view(block + pos, length);
}

std::string_view ListRows::text(RowId id, int cell) const
{
    if (cell < 0 || cell >= m_cells)
        return {};
    return textAt(m_cellOffsets[size_t(id) * size_t(m_cells) + size_t(cell)]);
}

size_t ListRows::memoryBytes() const
{
    return m_cellOffsets.size() * sizeof(uint32_t) + m_images.size() * sizeof(int32_t)
         + m_blocks.size() * kBlockBytes + m_pool.size() * (sizeof(std::string) + 32)
         + m_pool.bucket_count() * sizeof(void *);
}

} // namespace veltrano
