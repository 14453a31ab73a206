#pragma once
// The host's service table: one address per BKA_ service of the host
// executable, bound by name once when the library is loaded. The plug-in calls
// none of them except BKA_GetVersion during binding; the binding matters
// because a host that lacks the services is refused (the library does not load).
//
// Threads: bound on the loader's thread before any callback runs; read-only
// afterwards, so later readers need no lock.

#include <cstddef>
#include <string>

namespace quill {

class HostServices {
public:
    static constexpr std::size_t kSlotCount = 56;
    // Slot order; slots 22 (BKA_SetStatus) and 56 (BKA_NextUnread), counted
    // from 1, are optional.
    static const char* const kNames[kSlotCount];
    // Hosts whose version text sorts before this one (and is at most seven
    // characters long) predate BKA_SetStatus and are accepted without it.
    static constexpr const char* kSetStatusVersion = "2.00.06";

    // Where the names are looked up. The production source is the executable of
    // the running process; tests give a table of their own.
    class Source {
    public:
        virtual ~Source() = default;
        // The host module, or null when the process has none to offer.
        virtual void* hostModule() = 0;
        // The address of an exported name, or null when it is not exported.
        virtual void* symbol(void* module, const char* name) = 0;
        // The platform's locale-aware text comparison (<0, 0, >0).
        virtual int compareText(const char* a, const char* b) = 0;
    };

    // The table of this process.
    static HostServices& instance();

    // Binds every slot. Returns true when the table is usable; on false the
    // module handle is cleared again. A table already bound returns true at
    // once. Never throws.
    bool bind(Source& source) noexcept;
    // The same with the executable of the running process.
    bool bindProcess() noexcept;

    bool bound() const { return module_ != nullptr; }
    // The address in slot index (0-based), null when absent or not bound.
    void* slot(std::size_t index) const { return index < kSlotCount ? slots_[index] : nullptr; }
    // The version text the host reported during the last bind.
    const std::string& version() const { return version_; }

private:
    void clear() noexcept;

    void* slots_[kSlotCount] = {};
    void* module_ = nullptr;
    std::string version_;
};

} // namespace quill
