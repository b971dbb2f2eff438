#include "support/cachefixture.h"

namespace veltrano::test {

TNodeData makeNode(std::string_view name, std::string_view cacheName, uint16_t kind, uint32_t state)
{
    TNodeData node;
    node.Name = std::string(name);
    node.Path = std::string(name);
    node.CacheName = std::string(cacheName);
    node.Kind = kind;
    node.State = state;
    return node;
}

} // namespace veltrano::test
