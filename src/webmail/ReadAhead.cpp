#include "webmail/ReadAhead.h"

#include <utility>

namespace quill {

// One part of one message: asked for or read ahead, then fetched or failed.
struct ReadAhead::Slot {
    enum class Phase { Fetching, Done, Failed };
    Phase phase = Phase::Fetching;
    std::string bytes;
    RequestFailure failure;
    // Bytes counted against kMaxHeldBytes while nobody has asked for it.
    std::size_t reserved = 0;
    bool asked = false;
    // Started to read ahead: its failure is not the answer; the part is
    // fetched once more when asked for.
    bool ahead = false;
};

// Shared with the fetches in flight, which may outlive a dropped slot.
struct ReadAhead::State {
    explicit State(Fetch f) : fetch(std::move(f)) {}
    const Fetch fetch;
    std::mutex lock; // guards everything here and in the slots
    std::condition_variable done;
    std::map<Key, std::shared_ptr<Slot>> slots;
    std::size_t held = 0;
};

ReadAhead::ReadAhead(RequestPool& pool, Fetch fetch)
    : pool_(pool), state_(std::make_shared<State>(std::move(fetch))) {}

ReadAhead::~ReadAhead() = default;

std::size_t ReadAhead::heldBytes() const {
    std::lock_guard<std::mutex> hold(state_->lock);
    return state_->held;
}

std::shared_ptr<ReadAhead::Slot> ReadAhead::ensure(const MessageList& mailbox, const Key& key,
                                                   bool urgent, std::size_t reserve) {
    auto& slots = state_->slots;
    const auto found = slots.find(key);
    if (found != slots.end() && found->second->phase != Slot::Phase::Failed) {
        return found->second;
    }
    if (found != slots.end()) {
        drop(key); // failed when read ahead: asked for, it is fetched again
    }
    auto slot = std::make_shared<Slot>();
    slot->reserved = reserve;
    slot->ahead = !urgent;
    state_->held += reserve;
    slots.emplace(key, slot);
    // The fetch keeps the shared state and its slot, not this object: a slot
    // dropped meanwhile is simply filled and forgotten.
    std::shared_ptr<State> state = state_;
    const MessageRef message = mailbox[key.first];
    const bool text = key.second;
    pool_.post(
        [state, slot, message, text] {
            std::string bytes;
            RequestFailure failure;
            try {
                bytes = state->fetch(message, text);
            } catch (...) {
                failure = RequestFailure::current();
            }
            {
                std::lock_guard<std::mutex> hold(state->lock);
                if (failure) {
                    slot->failure = std::move(failure);
                    slot->phase = Slot::Phase::Failed;
                } else {
                    // What came may pass what was reserved for it.
                    if (!slot->asked && bytes.size() > slot->reserved) {
                        state->held += bytes.size() - slot->reserved;
                        slot->reserved = bytes.size();
                    }
                    slot->bytes = std::move(bytes);
                    slot->phase = Slot::Phase::Done;
                }
            }
            state->done.notify_all();
        },
        urgent);
    return slot;
}

void ReadAhead::drop(const Key& key) {
    auto& slots = state_->slots;
    const auto found = slots.find(key);
    if (found == slots.end()) {
        return;
    }
    if (!found->second->asked) {
        state_->held -= found->second->reserved;
    }
    found->second->reserved = 0;
    slots.erase(found);
}

void ReadAhead::scheduleAfter(const MessageList& mailbox, std::size_t index, bool withText) {
    std::size_t ahead = 0;
    for (std::size_t next = index + 1; next < mailbox.size() && ahead < kMaxAhead;
         ++next, ++ahead) {
        const bool haveHeader = state_->slots.count({next, false}) != 0;
        const bool haveText = !withText || state_->slots.count({next, true}) != 0;
        if (haveHeader && haveText) {
            continue;
        }
        const std::int32_t listed = mailbox[next].size();
        const std::size_t size = listed > 0 ? static_cast<std::size_t>(listed) : 0;
        // A header alone is reserved at the slack; a whole message at its
        // listed size and the slack.
        const std::size_t textReserve = withText && !haveText ? size : 0;
        const std::size_t headerReserve = haveHeader ? 0 : kSizeSlack;
        if (size > kMaxHeldBytes || state_->held + textReserve + headerReserve > kMaxHeldBytes) {
            return; // this one would pass the bound: nothing beyond it either
        }
        if (!haveHeader) {
            ensure(mailbox, {next, false}, false, headerReserve);
        }
        if (!haveText) {
            ensure(mailbox, {next, true}, false, textReserve);
        }
    }
}

std::string ReadAhead::await(std::unique_lock<std::mutex>& hold,
                             const std::shared_ptr<Slot>& slot) {
    state_->done.wait(hold, [&slot] { return slot->phase != Slot::Phase::Fetching; });
    if (slot->phase == Slot::Phase::Failed) {
        slot->failure.raise();
    }
    return std::move(slot->bytes);
}

void ReadAhead::take(const MessageList& mailbox, std::size_t index, bool withText,
                     std::string& header, std::string& text, const Waiting& waiting) {
    const bool inOrder = !anyTaken_ || index == lastTaken_ + 1;
    anyTaken_ = true;
    lastTaken_ = index;

    std::unique_lock<std::mutex> hold(state_->lock);
    // Messages before this one that were read ahead and skipped are not
    // going to be asked for.
    for (auto it = state_->slots.begin(); it != state_->slots.end();) {
        const Key key = (it++)->first;
        if (key.first < index) {
            drop(key);
        }
    }
    const Key headerKey{index, false};
    const Key textKey{index, true};
    std::shared_ptr<Slot> headerSlot = ensure(mailbox, headerKey, true, 0);
    std::shared_ptr<Slot> textSlot = withText ? ensure(mailbox, textKey, true, 0) : nullptr;
    for (Slot* asked : {headerSlot.get(), textSlot.get()}) {
        if (asked != nullptr && !asked->asked) {
            asked->asked = true;
            state_->held -= asked->reserved;
            asked->reserved = 0;
        }
    }
    if (inOrder) {
        scheduleAfter(mailbox, index, withText);
    }
    // Given out once: whatever happens next, this message's slots go.
    struct Forget {
        ReadAhead& self;
        std::size_t index;
        ~Forget() {
            self.drop({index, false});
            self.drop({index, true});
        }
    } forget{*this, index};

    const MessageRef& message = mailbox[index];
    auto show = [&](bool part) {
        if (waiting) {
            hold.unlock();
            try {
                waiting(message, part);
            } catch (...) {
                // Only the window's text: the retrieval goes on.
            }
            hold.lock();
        }
    };
    // A part whose read-ahead failed (before or while it was asked for) is
    // fetched once more; the failure of that fetch is the answer.
    auto part = [&](const Key& key, std::shared_ptr<Slot> slot) {
        show(key.second);
        state_->done.wait(hold, [&slot] { return slot->phase != Slot::Phase::Fetching; });
        if (slot->phase == Slot::Phase::Failed && slot->ahead) {
            drop(key);
            slot = ensure(mailbox, key, true, 0);
            slot->asked = true;
        }
        return await(hold, slot);
    };
    header = part(headerKey, headerSlot);
    if (textSlot) {
        text = part(textKey, textSlot);
    }
}

void ReadAhead::settle() {
    {
        std::lock_guard<std::mutex> hold(state_->lock);
        state_->slots.clear();
        state_->held = 0;
    }
    pool_.settle();
}

} // namespace quill
