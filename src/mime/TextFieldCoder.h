#pragma once
// Coder for free text fields (Subject, Comments, Content-Description): the
// whole value is one segment and is never folded.

#include "mime/FieldCoder.h"

namespace quill {

class TextFieldCoder : public FieldCoder {
public:
    unsigned char initialQuotingState() const override { return 255; }
};

} // namespace quill
