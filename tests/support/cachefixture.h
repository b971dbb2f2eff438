#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cache/cachewriter.h"
#include "cache/myutils.h"

namespace veltrano::test {

// Small builders over the project's own cache writer, for tests that need a cache.

// A node of a node list; texts in code-page bytes.
TNodeData makeNode(std::string_view name, std::string_view cacheName, uint16_t kind,
                   uint32_t state = nsCacheOn);
inline uint16_t containerKind()
{
    return kindMask(nkContainer);
}
inline uint16_t indexedKind()
{
    return kindMask(nkIndexed);
}

inline CacheEntry fileEntry(std::string_view name, uint32_t size, double time = 36526.5)
{
    return CacheEntry {std::string(name), size, 0x20, time};
}
inline CacheEntry dirEntry(std::string_view name, double time = 36526.5)
{
    return CacheEntry {std::string(name), 0, kAttrDirectory, time};
}

} // namespace veltrano::test
