#include "Config/ConfNode.h"

namespace Kalvor {

void ConfNode::appendChild(std::unique_ptr<ConfNode> child) {
    children_.push_back(std::move(child));
    if (children_.size() < kIndexedFrom)
        return;
    if (!index_) {
        index_ = std::make_unique<NameIndex>();
        index_->reserve(2 * kIndexedFrom);
        for (const auto& earlier : children_)
            index_->emplace(earlier->name(), earlier.get());
        return;
    }
    // emplace keeps an existing entry: the first of equal names goes on answering.
    index_->emplace(children_.back()->name(), children_.back().get());
}

const ConfNode* ConfNode::findChild(std::string_view name) const {
    if (index_) {
        const auto found = index_->find(name);
        return found == index_->end() ? nullptr : found->second;
    }
    for (const auto& child : children_) {
        if (child->name() == name)
            return child.get();
    }
    return nullptr;
}

const ConfNode* ConfNode::find(const std::string& key) const {
    if (key.empty())
        return nullptr;
    const std::string_view whole(key);
    const ConfNode* node = this;
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = whole.find('.', start);
        const std::size_t length = dot == std::string_view::npos ? dot : dot - start;
        node = node->findChild(whole.substr(start, length));
        if (node == nullptr || dot == std::string_view::npos)
            return node;
        start = dot + 1;
    }
}

} // namespace Kalvor
