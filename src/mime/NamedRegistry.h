#pragma once
// A process-wide list of (name, factory) pairs, looked up by name without
// regard to ASCII case. Registering a name replaces every earlier entry of
// that name; look-ups take the first match. Safe to use from any thread: the
// list is under its own lock, held only while an entry is found or changed.

#include "mime/CharClass.h"

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quill {

template <class Product> class NamedRegistry {
public:
    using Factory = std::unique_ptr<Product> (*)();

    void add(std::string name, Factory factory) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<Entry> kept;
        kept.reserve(entries_.size() + 1);
        for (auto& entry : entries_) {
            if (!CharClass::equalNoCase(entry.name, name)) {
                kept.push_back(std::move(entry));
            }
        }
        kept.push_back(Entry{std::move(name), factory});
        entries_.swap(kept);
    }

    // The factory of the first entry with this name, or null.
    Factory find(std::string_view name) const {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& entry : entries_) {
            if (CharClass::equalNoCase(entry.name, name)) {
                return entry.factory;
            }
        }
        return nullptr;
    }

    bool empty() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return entries_.empty();
    }

    std::vector<std::string> names() const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> out;
        for (const auto& entry : entries_) {
            out.push_back(entry.name);
        }
        return out;
    }

private:
    struct Entry {
        std::string name;
        Factory factory;
    };
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
};

} // namespace quill
