#pragma once
// The top-level entity of a message; a MimeBody in every respect.

#include "mime/MimeBody.h"

namespace quill {

class MimeMessage : public MimeBody {};

} // namespace quill
