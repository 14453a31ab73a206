#include "site/Mailbox.h"

#include "codec/Md5Hex.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace quill::site {

namespace fs = std::filesystem;

const std::vector<std::string>& Mailbox::folderNames() {
    static const std::vector<std::string> names = {"Inbox", "Sent", "Trash"};
    return names;
}

bool Mailbox::isFolder(const std::string& name) {
    const auto& names = folderNames();
    return std::find(names.begin(), names.end(), name) != names.end();
}

std::string Mailbox::normalize(const std::string& raw) {
    std::string out;
    out.reserve(raw.size() + raw.size() / 32 + 4);
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\n' && (i == 0 || raw[i - 1] != '\r')) {
            out += '\r';
        }
        out += raw[i];
    }
    if (out.find("\r\n\r\n") == std::string::npos) {
        // A header without its terminating empty line (and so without a body).
        if (out.empty()) {
            out = "\r\n";
        } else if (out.size() < 2 || out.compare(out.size() - 2, 2, "\r\n") != 0) {
            out += "\r\n\r\n";
        } else {
            out += "\r\n";
        }
    }
    return out;
}

void Mailbox::addUser(const std::string& user) {
    auto& folders = users_[user];
    for (const auto& name : folderNames()) {
        folders[name];
    }
}

bool Mailbox::hasUser(const std::string& user) const {
    return users_.count(user) != 0;
}

const Mailbox::Folder* Mailbox::folder(const std::string& user, const std::string& name) const {
    auto u = users_.find(user);
    if (u == users_.end()) {
        return nullptr;
    }
    auto f = u->second.find(name);
    return f == u->second.end() ? nullptr : &f->second;
}

Mailbox::Folder* Mailbox::folder(const std::string& user, const std::string& name) {
    return const_cast<Folder*>(static_cast<const Mailbox*>(this)->folder(user, name));
}

std::string Mailbox::nextId(const std::string& raw) {
    // "1_<serial>_<22 characters>": the tail is drawn from an MD5 of the serial
    // and the bytes, so ids are stable for a given load order.
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    unsigned serial = serial_++;
    std::string seed = std::to_string(serial) + ":" + raw;
    Md5Hex md5(seed);
    std::string hex = md5.hex();
    Md5Hex again(hex + seed.substr(0, 64));
    hex += again.hex();
    std::string tail;
    for (std::size_t i = 0; i + 1 < hex.size() && tail.size() < 22; i += 2) {
        int v = std::stoi(hex.substr(i, 2), nullptr, 16);
        tail += alphabet[v & 63];
    }
    tail[0] = 'A' + static_cast<char>(serial % 26); // never "-" or "_" first
    return "1_" + std::to_string(serial) + "_" + tail;
}

bool Mailbox::idInUse(const std::string& id) const {
    for (const auto& u : users_) {
        for (const auto& f : u.second) {
            for (const auto& m : f.second.messages) {
                if (m->id == id) {
                    return true;
                }
            }
        }
    }
    return false;
}

std::string Mailbox::add(const std::string& user, const std::string& folderName,
                         const std::string& raw, bool unread, const std::string& id) {
    Folder* f = folder(user, folderName);
    if (f == nullptr) {
        return std::string();
    }
    if (!id.empty()) {
        for (unsigned char c : id) {
            if (c <= ' ' || c >= 127 ||
                std::string("&\"'<>#").find(static_cast<char>(c)) != std::string::npos) {
                return std::string();
            }
        }
        if (idInUse(id)) {
            return std::string();
        }
    }
    auto m = std::make_shared<StoredMessage>();
    m->raw = normalize(raw);
    m->id = id.empty() ? nextId(m->raw) : id;
    m->unread = unread;
    f->unread += unread ? 1 : 0;
    f->messages.push_back(m);
    return m->id;
}

namespace {

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<fs::path> sortedFiles(const fs::path& dir) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.is_regular_file()) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace

int Mailbox::loadFolder(const std::string& user, const std::string& folderName,
                        const std::string& dir) {
    fs::path base(dir);
    int count = 0;
    std::error_code ec;
    if (fs::is_directory(base / "cur", ec) || fs::is_directory(base / "new", ec)) {
        // Maildir: "cur" holds seen mail (flag S after ":2,"), "new" unseen mail.
        for (const char* sub : {"cur", "new"}) {
            if (!fs::is_directory(base / sub, ec)) {
                continue;
            }
            for (const auto& file : sortedFiles(base / sub)) {
                std::string name = file.filename().string();
                if (name.empty() || name[0] == '.') {
                    continue;
                }
                bool unread = true;
                if (std::string(sub) == "cur") {
                    std::size_t info = name.find(":2,");
                    unread =
                        info == std::string::npos || name.find('S', info + 3) == std::string::npos;
                }
                add(user, folderName, readFile(file), unread);
                ++count;
            }
        }
        return count;
    }
    for (const auto& file : sortedFiles(base)) {
        if (file.extension() == ".eml") {
            add(user, folderName, readFile(file), true);
            ++count;
        }
    }
    return count;
}

int Mailbox::loadDirectory(const std::string& user, const std::string& directory) {
    std::error_code ec;
    if (!fs::is_directory(directory, ec)) {
        throw std::runtime_error("not a directory: " + directory);
    }
    addUser(user);
    bool byFolder = false;
    int count = 0;
    try {
        for (const auto& name : folderNames()) {
            fs::path sub = fs::path(directory) / name;
            if (fs::is_directory(sub, ec)) {
                byFolder = true;
                count += loadFolder(user, name, sub.string());
            }
        }
        if (!byFolder) {
            count = loadFolder(user, "Inbox", directory);
        }
    } catch (const fs::filesystem_error& e) {
        throw std::runtime_error(std::string("cannot read ") + directory + ": " + e.what());
    }
    return count;
}

std::vector<StoredMessage> Mailbox::messages(const std::string& user,
                                             const std::string& folderName) const {
    std::vector<StoredMessage> copies;
    for (const auto& m : view(user, folderName)) {
        copies.push_back(*m);
    }
    return copies;
}

const Mailbox::Messages& Mailbox::view(const std::string& user,
                                       const std::string& folderName) const {
    static const Messages none;
    const Folder* f = folder(user, folderName);
    return f == nullptr ? none : f->messages;
}

std::size_t Mailbox::unreadCount(const std::string& user, const std::string& folderName) const {
    const Folder* f = folder(user, folderName);
    return f == nullptr ? 0 : f->unread;
}

std::shared_ptr<const StoredMessage>
Mailbox::find(const std::string& user, const std::string& folderName, const std::string& id) const {
    const Folder* f = folder(user, folderName);
    if (f == nullptr) {
        return nullptr;
    }
    for (const auto& m : f->messages) {
        if (m->id == id) {
            return m;
        }
    }
    return nullptr;
}

bool Mailbox::markRead(const std::string& user, const std::string& folderName,
                       const std::string& id) {
    Folder* f = folder(user, folderName);
    if (f == nullptr) {
        return false;
    }
    for (auto& m : f->messages) {
        if (m->id == id) {
            if (m->unread) {
                m->unread = false;
                --f->unread;
            }
            return true;
        }
    }
    return false;
}

int Mailbox::move(const std::string& user, const std::string& from, const std::string& to,
                  const std::vector<std::string>& ids) {
    Folder* source = folder(user, from);
    Folder* target = folder(user, to);
    if (source == nullptr || target == nullptr || source == target) {
        return 0;
    }
    int moved = 0;
    auto& messages = source->messages;
    for (auto it = messages.begin(); it != messages.end();) {
        if (std::find(ids.begin(), ids.end(), (*it)->id) != ids.end()) {
            const std::size_t unread = (*it)->unread ? 1 : 0;
            source->unread -= unread;
            target->unread += unread;
            target->messages.push_back(std::move(*it));
            it = messages.erase(it);
            ++moved;
        } else {
            ++it;
        }
    }
    return moved;
}

int Mailbox::remove(const std::string& user, const std::string& folderName,
                    const std::vector<std::string>& ids) {
    Folder* f = folder(user, folderName);
    if (f == nullptr) {
        return 0;
    }
    auto& messages = f->messages;
    auto before = messages.size();
    messages.erase(std::remove_if(messages.begin(), messages.end(),
                                  [&](const std::shared_ptr<StoredMessage>& m) {
                                      if (std::find(ids.begin(), ids.end(), m->id) == ids.end()) {
                                          return false;
                                      }
                                      f->unread -= m->unread ? 1 : 0;
                                      return true;
                                  }),
                   messages.end());
    return static_cast<int>(before - messages.size());
}

int Mailbox::clear(const std::string& user, const std::string& folderName) {
    Folder* f = folder(user, folderName);
    if (f == nullptr) {
        return 0;
    }
    int n = static_cast<int>(f->messages.size());
    f->messages.clear();
    f->unread = 0;
    return n;
}

} // namespace quill::site
