// One entry of a configuration file: its name, declared type and value, and the entries of its
// body in file order. A node owns its children; names may repeat among siblings, and lookups
// take the first. Finding a child by name costs the same however many siblings it has, so that
// a walk over every child of a large body stays linear.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace Kalvor {

class ConfNode {
public:
    explicit ConfNode(std::string name) : name_(std::move(name)) {}
    ConfNode(const ConfNode&) = delete;
    ConfNode& operator=(const ConfNode&) = delete;

    const std::string& name() const { return name_; }
    // Empty when the entry was written with "()".
    const std::string& type() const { return type_; }
    const std::string& value() const { return value_; }
    void setType(std::string type) { type_ = std::move(type); }
    void setValue(std::string value) { value_ = std::move(value); }
    // Where the entry stands in its file's text: from its name to just after its body's "}"
    // (the text's end for a body left open). For edits that keep the rest byte for byte.
    std::size_t begin() const { return begin_; }
    std::size_t end() const { return end_; }
    void setSpan(std::size_t begin, std::size_t end) {
        begin_ = begin;
        end_ = end;
    }

    void appendChild(std::unique_ptr<ConfNode> child);
    std::size_t childCount() const { return children_.size(); }
    const ConfNode& child(std::size_t index) const { return *children_[index]; }
    // The first child whose name equals `name` byte for byte, or null.
    const ConfNode* findChild(std::string_view name) const;
    // The node a dotted key names below this one: each component, cut at ".", takes the first
    // child of that name; an empty component matches only an empty name. Null for an empty key
    // or when a component finds no child (later siblings of the same name are not tried).
    const ConfNode* find(const std::string& key) const;

private:
    // Below this many children a scan is cheaper than the index, and most bodies are that small.
    static constexpr std::size_t kIndexedFrom = 16;
    using NameIndex = std::unordered_map<std::string_view, const ConfNode*>;

    std::string name_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    std::string type_;
    std::string value_;
    std::vector<std::unique_ptr<ConfNode>> children_;
    // The first child of each name, made once there are kIndexedFrom children; the leaves, most
    // of a tree, carry only the pointer. The keys view the children's own names, which never
    // change and stay where they are while the child lives.
    std::unique_ptr<NameIndex> index_;
};

} // namespace Kalvor
