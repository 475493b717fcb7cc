#pragma once
// Chunk trees as text for comparisons: name@offset+size[children], the root left out.

#include "support/IFFTree.h"

#include <string>

inline std::string dumpNode(const vantor::IFFTreeNode* node)
{
    std::string s = node->name + "@" + std::to_string(node->offset) + "+" +
                    std::to_string(node->size);
    if (!node->children.empty()) {
        s += "[";
        for (size_t i = 0; i < node->children.size(); ++i)
            s += (i ? "," : "") + dumpNode(node->children[i]);
        s += "]";
    }
    return s;
}

inline std::string dumpTree(const vantor::IFFTree& tree)
{
    if (!tree.getRoot())
        return "no tree";
    std::string s;
    for (const vantor::IFFTreeNode* child : tree.getRoot()->children)
        s += (s.empty() ? "" : ",") + dumpNode(child);
    return s;
}
