#include "mime/PartFactoryRegistry.h"

#include "mime/NamedRegistry.h"

namespace quill {

namespace {

NamedRegistry<MimeBody>& registry() {
    static NamedRegistry<MimeBody>* registry = new NamedRegistry<MimeBody>(); // lives until the end
    return *registry;
}

} // namespace

std::unique_ptr<MimeBody> PartFactoryRegistry::create(std::string_view name) {
    if (name.empty()) {
        name = "text";
    }
    if (Factory factory = registry().find(name)) {
        if (auto body = factory()) {
            return body;
        }
    }
    return std::make_unique<MimeBody>();
}

void PartFactoryRegistry::registerFactory(std::string name, Factory factory) {
    registry().add(std::move(name), factory);
}

bool PartFactoryRegistry::empty() {
    return registry().empty();
}

} // namespace quill
