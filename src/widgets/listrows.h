#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace veltrano {

// The compact storage behind the program's lists: every row holds a fixed number of text cells
// (UTF-8) and one image index. Texts live in one arena, each once per row; the cells of a
// pooled column (a folder, a location, a node key: values that repeat across thousands of
// rows) are stored once for all rows. A row costs about 4 bytes per cell, its image index and
// its unique texts, so a million search results fit in about a hundred megabytes.
//
// Rows are addressed by a RowId that stays valid until clear(); removing a row forgets its id
// but keeps its texts in the arena until the next clear(). Not thread-safe.
using RowId = uint32_t;

class ListRows
{
public:
    // `cells` texts per row; the columns flagged in `pooled` share repeated texts.
    void setLayout(int cells, std::vector<bool> pooled);
    int cellCount() const { return m_cells; }

    // Stores a row and returns its id. Cells beyond `texts` are empty.
    RowId add(int image, std::span<const std::string_view> texts);
    void setImage(RowId id, int image) { m_images[id] = image; }

    std::string_view text(RowId id, int cell) const;
    int image(RowId id) const { return m_images[id]; }
    size_t storedRows() const { return m_images.size(); }

    void clear();
    // Bytes held by the storage, for the memory figures of the benchmark.
    size_t memoryBytes() const;

private:
    struct TextHash
    {
        using is_transparent = void;
        size_t operator()(std::string_view text) const { return std::hash<std::string_view>()(text); }
    };

    uint32_t storeText(std::string_view text);
    uint32_t storePooled(std::string_view text);
    std::string_view textAt(uint32_t offset) const;

    // The arena grows by blocks that never move: a list filling while the window runs must
    // not stop it to copy (and fault in) tens of megabytes at once. The same goes for the
    // per-row columns, which are deques for that reason.
    static constexpr uint32_t kBlockShift = 20;
    static constexpr size_t kBlockBytes = size_t(1) << kBlockShift;

    int m_cells = 0;
    std::vector<bool> m_pooled;
    std::deque<uint32_t> m_cellOffsets; // m_cells per row: offsets into the arena
    std::deque<int32_t> m_images;
    // Each text: a length varint and the bytes, within one block; an offset is the block's
    // number shifted by kBlockShift plus the place in the block.
    std::vector<std::unique_ptr<char[]>> m_blocks;
    size_t m_blockUsed = 0; // bytes used in the last block
    std::unordered_map<std::string, uint32_t, TextHash, std::equal_to<>> m_pool;
};

} // namespace veltrano
