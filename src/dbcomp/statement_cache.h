// The statements a connection has prepared, by shape: a statement that differs from an
// earlier one only in the values of the literals its rendering turned into parameters finds
// that statement's plan. Literals the rendering kept in its text are part of a plan's identity.
// Bounded: beyond the capacity the least recently used plan goes. The connection clears the
// cache whenever the schema may have changed.
#pragma once

#include <charconv>
#include <cstddef>
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "dialect/dialect.h"

namespace ovt::db::common {

inline constexpr size_t kStatementCacheCapacity = 64;

template <class Plan>
class StatementCache {
 public:
  explicit StatementCache(size_t capacity = kStatementCacheCapacity) : capacity_(capacity ? capacity : 1) {}

  // The plan stored for this operation and shape whose kept literals are the statement's, or
  // null. A plan found becomes the most recently used.
  Plan* find(std::string_view operation, const dialect::Shape& shape) {
    // Both keys are written into buffers the cache keeps: a look-up allocates nothing.
    shapeKey(keyBuffer_, operation, shape);
    auto lifted = lifted_.find(keyBuffer_);
    if (lifted == lifted_.end()) return nullptr;
    identity(idBuffer_, lifted->first, lifted->second, shape);
    auto it = plans_.find(idBuffer_);
    if (it == plans_.end()) return nullptr;
    order_.splice(order_.begin(), order_, it->second.use);
    return &it->second.plan;
  }

  // Stores the plan of a statement of this shape whose literals `parameters` (numbers from 1)
  // the rendering lifted; any plan of the same identity is replaced.
  Plan& store(std::string_view operation, const dialect::Shape& shape, const std::vector<size_t>& parameters,
              Plan plan) {
    std::vector<bool> mask(shape.literals.size(), false);
    for (size_t n : parameters)
      if (n >= 1 && n <= mask.size()) mask[n - 1] = true;
    std::string key;
    shapeKey(key, operation, shape);
    // Shapes seen stay few in practice; should they not, they are forgotten with their plans.
    if (lifted_.size() >= 4 * capacity_ && !lifted_.count(key)) clear();
    std::string id;
    identity(id, key, mask, shape);
    lifted_[std::move(key)] = std::move(mask);
    if (auto old = plans_.find(id); old != plans_.end()) {
      order_.erase(old->second.use);
      plans_.erase(old);
    }
    while (plans_.size() >= capacity_) {
      plans_.erase(order_.back());
      order_.pop_back();
    }
    order_.push_front(id);
    auto [it, added] = plans_.emplace(std::move(id), Node{std::move(plan), order_.begin()});
    (void)added;
    return it->second.plan;
  }

  void clear() {
    plans_.clear();
    order_.clear();
    lifted_.clear();
  }
  size_t size() const { return plans_.size(); }
  size_t capacity() const { return capacity_; }

 private:
  struct Node {
    Plan plan;
    std::list<std::string>::iterator use;
  };

  static void shapeKey(std::string& key, std::string_view operation, const dialect::Shape& shape) {
    key.clear();
    key.reserve(operation.size() + 1 + shape.key.size());
    key.append(operation);
    key += '\0';
    key += shape.key;
  }
  // The shape key followed by the literals kept in the text, each as "index:length:text".
  static void identity(std::string& id, const std::string& key, const std::vector<bool>& lifted,
                       const dialect::Shape& shape) {
    id.assign(key);
    id += '\0';
    for (size_t i = 0; i < shape.literals.size(); ++i) {
      if (i < lifted.size() && lifted[i]) continue;
      appendNumber(id, i);
      id += ':';
      appendNumber(id, shape.literals[i].text.size());
      id += ':';
      id += shape.literals[i].text;
    }
  }
  static void appendNumber(std::string& out, size_t n) {
    char digits[24];
    auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
    out.append(digits, end);
  }

  size_t capacity_;
  std::unordered_map<std::string, std::vector<bool>> lifted_;  // by shape key: which literals are parameters
  std::unordered_map<std::string, Node> plans_;                // by identity
  std::list<std::string> order_;                               // identities, most recently used first
  std::string keyBuffer_, idBuffer_;                           // find's keys, reused
};

}  // namespace ovt::db::common
