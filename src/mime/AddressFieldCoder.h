#pragma once
// Coder for address fields (From, To, Cc, Bcc, Reply-To and their Resent-
// forms): folded after every "," and ":" when encoding.

#include "mime/FieldCoder.h"

namespace quill {

class AddressFieldCoder : public FieldCoder {
public:
    bool isFoldPoint(unsigned char c) const override { return c == ',' || c == ':'; }
};

} // namespace quill
