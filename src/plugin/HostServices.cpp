#include "plugin/HostServices.h"

#include "platform/HostSymbols.h"
#include "platform/TextCompare.h"

#include <cstring>

namespace quill {

namespace {
// BKA_GetVersion: a zero-terminated text owned by the host.
using GetVersionFn = const char*(QUILL_CALLBACK*)();

constexpr std::size_t kSetStatusSlot = 21;  // BKA_SetStatus, 0-based
constexpr std::size_t kNextUnreadSlot = 55; // BKA_NextUnread, 0-based
constexpr std::size_t kVersionSlot = 0;     // BKA_GetVersion
constexpr std::size_t kOldVersionMaxLength = 7;
// The executable of the running process.
class ProcessSource : public HostServices::Source {
public:
    void* hostModule() override { return platform::hostModule(); }
    void* symbol(void* module, const char* name) override {
        return platform::hostSymbol(module, name);
    }
    int compareText(const char* a, const char* b) override { return platform::compareText(a, b); }
};
} // namespace

const char* const HostServices::kNames[kSlotCount] = {
    "BKA_GetVersion",
    "BKA_Command",
    "BKA_GetWindowHandles",
    "BKA_RegisterCommand",
    "BKA_RegisterUICallback",
    "BKA_GetDataFolder",
    "BKA_GetTempFolder",
    "BKA_GetTempFileName",
    "BKA_GetCurrentMailBox",
    "BKA_SetCurrentMailBox",
    "BKA_GetCurrentFolder",
    "BKA_SetCurrentFolder",
    "BKA_GetFolderDisplayName",
    "BKA_SetMessageText",
    "BKA_GetCurrentMail",
    "BKA_SetCurrentMail",
    "BKA_GetNextMail",
    "BKA_SetSel",
    "BKA_AppendMessage",
    "BKA_MoveSelectedMessages",
    "BKA_GetStatus",
    "BKA_SetStatus",
    "BKA_ComposeMail",
    "BKA_GetCharSet",
    "BKA_GetSource",
    "BKA_SetSource",
    "BKA_GetHeader",
    "BKA_GetText",
    "BKA_SetText",
    "BKA_GetSpecifiedHeader",
    "BKA_SetSpecifiedHeader",
    "BKA_CompGetCharSet",
    "BKA_CompGetSource",
    "BKA_CompSetSource",
    "BKA_CompGetHeader",
    "BKA_CompGetSpecifiedHeader",
    "BKA_CompSetSpecifiedHeader",
    "BKA_CompGetText",
    "BKA_CompSetText",
    "BKA_CompAttachFile",
    "BKA_Alloc",
    "BKA_ReAlloc",
    "BKA_Free",
    "BKA_ISO_2022_JP",
    "BKA_ISO_2022_KR",
    "BKA_HZ_GB2312",
    "BKA_ISO_8859_2",
    "BKA_EUC_JP",
    "BKA_UTF_7",
    "BKA_UTF_8",
    "BKA_B64Convert",
    "BKA_QPConvert",
    "BKA_MIMEHeader",
    "BKA_SerializeRcpts",
    "BKA_Connect",
    "BKA_NextUnread",
};

HostServices& HostServices::instance() {
    static HostServices table;
    return table;
}

void HostServices::clear() noexcept {
    for (auto& s : slots_) {
        s = nullptr;
    }
    module_ = nullptr;
}

bool HostServices::bindProcess() noexcept {
    ProcessSource source;
    return bind(source);
}

bool HostServices::bind(Source& source) noexcept {
    if (module_ != nullptr) {
        return true;
    }
    try {
        void* module = source.hostModule();
        if (module == nullptr) {
            return false;
        }
        module_ = module;
        for (std::size_t i = 0; i < kSlotCount; ++i) {
            if (i == kSetStatusSlot || i == kNextUnreadSlot) {
                continue;
            }
            slots_[i] = source.symbol(module, kNames[i]);
            if (slots_[i] == nullptr) {
                clear(); // later names are not looked up
                return false;
            }
        }
        slots_[kSetStatusSlot] = source.symbol(module, kNames[kSetStatusSlot]);
        slots_[kNextUnreadSlot] = source.symbol(module, kNames[kNextUnreadSlot]);

        auto getVersion = reinterpret_cast<GetVersionFn>(slots_[kVersionSlot]);
        const char* text = getVersion();
        version_ = text != nullptr ? text : "";
        if (version_.size() <= kOldVersionMaxLength &&
            source.compareText(version_.c_str(), kSetStatusVersion) < 0) {
            return true; // an older host has no BKA_SetStatus to offer
        }
        if (slots_[kSetStatusSlot] != nullptr) {
            return true;
        }
        clear();
        return false;
    } catch (...) {
        clear();
        return false;
    }
}

} // namespace quill
