#pragma once
// The stored mail of every user: folders "Inbox", "Sent" and "Trash" of raw
// messages in arrival order. Not synchronised: its owner (SiteHandler) holds
// its lock around every call.
//
// Errors: unknown users and folders are no error (empty results, nothing
// changed); loading a directory throws std::runtime_error naming the path.

#include "site/StoredMessage.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quill::site {

class Mailbox {
public:
    // The folders every user has, in the order the pages show them.
    static const std::vector<std::string>& folderNames();
    static bool isFolder(const std::string& name);

    // Lone LF become CR LF, and a message without the empty line that ends its
    // header gets one at its end, so header() + text() is always the message.
    static std::string normalize(const std::string& raw);

    void addUser(const std::string& user);
    bool hasUser(const std::string& user) const;

    // Stores a message (normalized) at the end of the folder; returns its id,
    // unique across the whole mailbox. Empty when user or folder is unknown.
    // A given id (tests use odd ones, with "+" or "%") is taken as it is unless
    // it is already in use or holds a byte that would end it inside a page or
    // a query ("&", quotes, "<", ">", "#", blanks, control bytes): then the
    // result is empty and nothing is stored.
    std::string add(const std::string& user, const std::string& folder, const std::string& raw,
                    bool unread = true, const std::string& id = std::string());

    // Loads a folder from a directory: a Maildir (messages in new/ are unread,
    // in cur/ read unless their flags lack "S"), or else every "*.eml" file in
    // name order (unread). A directory holding subdirectories named like the
    // folders ("Inbox", "Sent", "Trash") loads each into its folder instead.
    // Returns the number of messages loaded.
    int loadDirectory(const std::string& user, const std::string& directory);

    // Copies of the folder's messages in arrival order.
    std::vector<StoredMessage> messages(const std::string& user, const std::string& folder) const;
    // The folder's messages in arrival order without a copy (empty for an
    // unknown user or folder), for reading only; valid until the mailbox next
    // changes. Pages read through it, so that a listing page costs its rows
    // and not the folder.
    using Messages = std::vector<std::shared_ptr<StoredMessage>>;
    const Messages& view(const std::string& user, const std::string& folder) const;
    // How many of the folder's messages are unread; kept as messages come,
    // go and are read, so that no page counts the folder.
    std::size_t unreadCount(const std::string& user, const std::string& folder) const;
    // The message, or null. The record is shared: its raw bytes never change
    // and stay valid for as long as the pointer is held, also once the
    // message is moved or removed (an answer being sent keeps them).
    std::shared_ptr<const StoredMessage> find(const std::string& user, const std::string& folder,
                                              const std::string& id) const;
    // Marks the message read; false when it is not in the folder.
    bool markRead(const std::string& user, const std::string& folder, const std::string& id);
    // Moves the messages with these ids from one folder to the end of another;
    // ids not in the folder are ignored. Returns how many moved.
    int move(const std::string& user, const std::string& from, const std::string& to,
             const std::vector<std::string>& ids);
    // Removes these messages for good; returns how many.
    int remove(const std::string& user, const std::string& folder,
               const std::vector<std::string>& ids);
    // Empties the folder; returns how many messages it held.
    int clear(const std::string& user, const std::string& folder);

private:
    struct Folder {
        Messages messages;
        std::size_t unread = 0;
    };
    Folder* folder(const std::string& user, const std::string& name);
    const Folder* folder(const std::string& user, const std::string& name) const;
    std::string nextId(const std::string& raw);
    bool idInUse(const std::string& id) const;
    int loadFolder(const std::string& user, const std::string& folder, const std::string& dir);

    std::map<std::string, std::map<std::string, Folder>> users_;
    unsigned serial_ = 2001; // ids look like those of a long-lived account
};

} // namespace quill::site
