#include "Config/ConfNode.h"

namespace Kalvor {

const ConfNode* ConfNode::findChild(const std::string& name) const {
    for (const auto& child : children_) {
        if (child->name() == name)
            return child.get();
    }
    return nullptr;
}

const ConfNode* ConfNode::find(const std::string& key) const {
    if (key.empty())
        return nullptr;
    const ConfNode* node = this;
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = key.find('.', start);
        const std::size_t length = dot == std::string::npos ? std::string::npos : dot - start;
        node = node->findChild(key.substr(start, length));
        if (node == nullptr || dot == std::string::npos)
            return node;
        start = dot + 1;
    }
}

} // namespace Kalvor
