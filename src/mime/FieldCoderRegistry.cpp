#include "mime/FieldCoderRegistry.h"

#include "mime/AddressFieldCoder.h"
#include "mime/NamedRegistry.h"
#include "mime/ParameterFieldCoder.h"
#include "mime/TextFieldCoder.h"

namespace quill {

namespace {

template <class Coder> std::unique_ptr<FieldCoder> make() {
    return std::make_unique<Coder>();
}

NamedRegistry<FieldCoder>& registry() {
    static NamedRegistry<FieldCoder>* registry = [] {
        auto* reg = new NamedRegistry<FieldCoder>(); // lives until the process ends
        for (const char* name : {"Subject", "Comments", "Content-Description"}) {
            reg->add(name, &make<TextFieldCoder>);
        }
        for (const char* name : {"From", "To", "Resent-To", "Cc", "Resent-Cc", "Bcc", "Resent-Bcc",
                                 "Reply-To", "Resent-Reply-To"}) {
            reg->add(name, &make<AddressFieldCoder>);
        }
        for (const char* name : {"Content-Type", "Content-Disposition"}) {
            reg->add(name, &make<ParameterFieldCoder>);
        }
        return reg;
    }();
    return *registry;
}

} // namespace

std::unique_ptr<FieldCoder> FieldCoderRegistry::coderFor(std::string_view name) {
    if (Factory factory = registry().find(name)) {
        if (auto coder = factory()) {
            return coder;
        }
    }
    return std::make_unique<FieldCoder>();
}

void FieldCoderRegistry::registerCoder(std::string name, Factory factory) {
    registry().add(std::move(name), factory);
}

} // namespace quill
