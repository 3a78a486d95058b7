#pragma once

// The rows of the browser: one LightweightNode per folder or file shown in the tree or in the result
// list, and FileNode for the places that want a whole subtree at once. Plain values, no Qt.

#include "index/IndexRecords.h"

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kivo::organise {

// A row's identity inside one tree state. Made fresh whenever a node is built, never persisted.
using NodeId = index::Uuid;

struct NodeIdHash {
    std::size_t operator()(const NodeId& id) const noexcept
    {
        // Random version-4 bytes: any eight of them are a good hash already.
        std::uint64_t half;
        std::memcpy(&half, id.bytes.data(), sizeof half);
        return std::size_t(half);
    }
};

// A random (version 4) identifier.
NodeId newNodeId();

struct LightweightNode {
    NodeId id;
    std::string name; // with its extension
    std::string path;
    std::optional<std::string> url;
    bool isDirectory = false;
    std::optional<std::int64_t> bpm; // as known when the node was built
    std::optional<std::string> key; // filled in later when it becomes known
};

// A folder row: its name is the last path component with ":" shown as "/".
LightweightNode folderNode(const std::string& path);
// A file row from the index's record, with the record's own BPM and key.
LightweightNode fileNode(const index::FileInfo& file);

// The name a row shows: a file's name without its extension when the user hides extensions,
// otherwise (and for every folder) the name as it is.
std::string displayName(const LightweightNode& node, bool hideFileExtensions);
// `name` without its last extension; a leading dot (".hidden") or a trailing one is not an extension.
std::string_view nameWithoutExtension(std::string_view name);

// A whole subtree as one value; `children` is absent for files.
struct FileNode {
    NodeId id;
    std::string name;
    std::optional<std::vector<FileNode>> children;
    std::optional<std::string> url;

    // Nodes are the same node only when their ids are.
    bool operator==(const FileNode& other) const { return id == other.id; }
};

} // namespace kivo::organise
