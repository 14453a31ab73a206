#include "mime/CodecRegistry.h"

#include "mime/Base64Codec.h"
#include "mime/NamedRegistry.h"
#include "mime/QuotedPrintableCodec.h"

namespace quill {

namespace {

NamedRegistry<MimeCodec>& registry() {
    static NamedRegistry<MimeCodec>* registry = [] {
        auto* reg = new NamedRegistry<MimeCodec>(); // lives until the process ends
        reg->add("quoted-printable", []() -> std::unique_ptr<MimeCodec> {
            return std::make_unique<QuotedPrintableCodec>();
        });
        reg->add("base64",
                 []() -> std::unique_ptr<MimeCodec> { return std::make_unique<Base64Codec>(); });
        return reg;
    }();
    return *registry;
}

} // namespace

std::unique_ptr<MimeCodec> CodecRegistry::codecFor(std::string_view name) {
    if (name.empty()) {
        name = "7bit";
    }
    if (Factory factory = registry().find(name)) {
        if (auto codec = factory()) {
            return codec;
        }
    }
    return std::make_unique<MimeCodec>();
}

void CodecRegistry::registerCodec(std::string name, Factory factory) {
    registry().add(std::move(name), factory);
}

} // namespace quill
