#include "mime/PartFactoryRegistry.h"

#include "mime/NamedRegistry.h"

namespace quill {

namespace {

NamedRegistry<MimeBody>& registry() {
    static NamedRegistry<MimeBody>* r = new NamedRegistry<MimeBody>(); // lives until the end
    return *r;
}

} // namespace

std::unique_ptr<MimeBody> PartFactoryRegistry::create(std::string_view name) {
    if (name.empty())
        name = "text";
    if (Factory f = registry().find(name))
        if (auto body = f())
            return body;
    return std::make_unique<MimeBody>();
}

void PartFactoryRegistry::registerFactory(std::string name, Factory factory) {
    registry().add(std::move(name), factory);
}

bool PartFactoryRegistry::empty() {
    return registry().empty();
}

} // namespace quill
