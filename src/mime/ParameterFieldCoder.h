#pragma once
// Coder for parameterised fields (Content-Type, Content-Disposition): folded
// after every ";" when encoding.

#include "mime/FieldCoder.h"

namespace quill {

class ParameterFieldCoder : public FieldCoder {
public:
    bool isFoldPoint(unsigned char c) const override { return c == ';'; }
};

} // namespace quill
