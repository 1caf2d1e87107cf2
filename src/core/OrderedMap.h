// A keyed table that remembers the order in which keys were put in. Replacing the value of a key
// keeps its place; removing a key and putting it in again moves it to the end. Walks that may
// remove entries go over keys() taken before the walk.
#pragma once

#include <cstdint>
#include <list>
#include <unordered_map>
#include <utility>
#include <vector>

namespace murmur {

template <typename Key, typename Value>
class OrderedMap {
public:
    using Entry = std::pair<const Key, Value>;

    bool contains(const Key& key) const { return index_.count(key) != 0; }
    std::size_t count() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }

    Value* find(const Key& key) {
        auto it = index_.find(key);
        return it == index_.end() ? nullptr : &it->second.entry->second;
    }
    const Value* find(const Key& key) const {
        auto it = index_.find(key);
        return it == index_.end() ? nullptr : &it->second.entry->second;
    }
    // The key's place in the table: a key put in later has a larger one.
    std::uint64_t order(const Key& key) const {
        auto it = index_.find(key);
        return it == index_.end() ? ~std::uint64_t{0} : it->second.order;
    }

    Value& put(const Key& key, Value value) {
        auto it = index_.find(key);
        if (it != index_.end()) {
            it->second.entry->second = std::move(value);
            return it->second.entry->second;
        }
        entries_.emplace_back(key, std::move(value));
        index_.emplace(key, Slot{std::prev(entries_.end()), nextOrder_++});
        return entries_.back().second;
    }

    bool remove(const Key& key) {
        auto it = index_.find(key);
        if (it == index_.end()) return false;
        entries_.erase(it->second.entry);
        index_.erase(it);
        return true;
    }

    void clear() {
        entries_.clear();
        index_.clear();
    }

    std::vector<Key> keys() const {
        std::vector<Key> out;
        out.reserve(entries_.size());
        for (const auto& e : entries_) out.push_back(e.first);
        return out;
    }

    auto begin() { return entries_.begin(); }
    auto end() { return entries_.end(); }
    auto begin() const { return entries_.begin(); }
    auto end() const { return entries_.end(); }

private:
    struct Slot {
        typename std::list<Entry>::iterator entry;
        std::uint64_t order;
    };
    std::list<Entry> entries_;
    std::unordered_map<Key, Slot> index_;
    std::uint64_t nextOrder_ = 0;
};

}  // namespace murmur
