#include "organise/LightweightNode.h"

#include "index/FolderListing.h"

#include <random>

namespace kivo::organise {

NodeId newNodeId()
{
    thread_local std::mt19937_64 generator { [] {
        std::random_device device;
        return (std::uint64_t(device()) << 32) ^ device();
    }() };
    NodeId id;
    for (std::size_t i = 0; i < id.bytes.size(); i += 8) {
        const std::uint64_t word = generator();
        std::memcpy(id.bytes.data() + i, &word, 8);
    }
    id.bytes[6] = std::uint8_t((id.bytes[6] & 0x0F) | 0x40);
    id.bytes[8] = std::uint8_t((id.bytes[8] & 0x3F) | 0x80);
    return id;
}

LightweightNode folderNode(const std::string& path)
{
    return { newNodeId(), index::displayNameOfPath(path), path, index::fileURL(path), true, std::nullopt,
        std::nullopt };
}

LightweightNode fileNode(const index::FileInfo& file)
{
    return { newNodeId(), file.name, file.path, file.url(), false, file.bpm, file.key };
}

std::string_view nameWithoutExtension(std::string_view name)
{
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size())
        return name;
    return name.substr(0, dot);
}

std::string displayName(const LightweightNode& node, bool hideFileExtensions)
{
    if (node.isDirectory || !hideFileExtensions)
        return node.name;
    return std::string(nameWithoutExtension(node.name));
}

} // namespace kivo::organise
