#pragma once
// A POP3 conversation's messages fetched before the mail client asks for
// them. A client that retrieves in order (RETR 1, RETR 2, ...; or TOP n 0 for
// each header) spends most of its time waiting on a site tens of
// milliseconds away; while it reads one message, the ones after it are
// fetched on the conversation's RequestPool, so that the next RETR is
// answered from memory. A message asked for has its header and text
// requested at once, before anything read ahead.
//
// What the mail client gets is exactly what fetching on demand gives: each
// part is the site's answer for that message's id (never for its number, so
// a mailbox that changed at the site cannot hand out another message), a part
// that failed when read ahead is fetched again when asked for (and its
// failure then is the answer), and a part is given out once: a message asked
// for again is fetched again.
//
// Errors: take() throws what the fetch of an asked part threw.
//
// Threads: take() and settle() belong to the conversation's thread; fetches
// run on the pool's threads.

#include "webmail/MessageList.h"
#include "webmail/RequestFailure.h"
#include "webmail/RequestPool.h"

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace quill {

class ReadAhead {
public:
    // Bytes held at most of messages not yet asked for: a mailbox of large
    // messages must not take the host's memory. A message whose listed size
    // would pass it is not read ahead.
    static constexpr std::size_t kMaxHeldBytes = 16u << 20;
    // Added to a message's listed size when it is reserved: listings give
    // sizes in whole kilobytes, and the header comes on top.
    static constexpr std::size_t kSizeSlack = 2048;
    // Messages read ahead at once: enough to keep the pool's requests busy
    // while the client reads, not so many that a client that stops early
    // leaves a long tail of fetches behind.
    static constexpr std::size_t kMaxAhead = 8;

    // Fetches one part of a message: its raw header (text false) or its raw
    // text (text true); throws on failure. Called on the pool's threads.
    using Fetch = std::function<std::string(const MessageRef& message, bool text)>;
    // Called on the conversation's thread for each part of the message asked
    // for, before take() waits for it (to show the step in the progress
    // window), whether or not it is in already.
    using Waiting = std::function<void(const MessageRef& message, bool text)>;

    // pool must outlive the read-ahead; fetch is kept until the last fetch
    // in flight ends, and whatever it uses must live until the pool has
    // settled.
    ReadAhead(RequestPool& pool, Fetch fetch);
    ~ReadAhead();

    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The header and, when withText, the text of mailbox[index] (the same
    // mailbox at every call of a conversation), waiting for what is not in
    // yet; then reads ahead the messages after it when the client goes in
    // order (the same parts: headers only for TOP n 0). Throws what a fetch
    // of this message threw; whatever was fetched of it is then dropped.
    void take(const MessageList& mailbox, std::size_t index, bool withText, std::string& header,
              std::string& text, const Waiting& waiting);
    // Drops everything read ahead and waits until no fetch runs, so that the
    // requests that follow (the deletion at QUIT) are the only ones.
    void settle();

    // Bytes reserved or held now for messages not yet asked for.
    std::size_t heldBytes() const;

private:
    struct Slot;
    struct State;
    using Key = std::pair<std::size_t, bool>; // message index, text part

    // The slot of key, started (urgent: before everything waiting) when
    // missing or failed. Under the lock.
    std::shared_ptr<Slot> ensure(const MessageList& mailbox, const Key& key, bool urgent,
                                 std::size_t reserve);
    void scheduleAfter(const MessageList& mailbox, std::size_t index, bool withText);
    // Waits for slot and moves its bytes out, or rethrows its failure.
    std::string await(std::unique_lock<std::mutex>& hold, const std::shared_ptr<Slot>& slot);
    void drop(const Key& key); // under the lock

    RequestPool& pool_;
    std::shared_ptr<State> state_;
    // Conversation thread only.
    bool anyTaken_ = false;
    std::size_t lastTaken_ = 0;
};

} // namespace quill
