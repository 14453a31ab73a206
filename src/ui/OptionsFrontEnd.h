#pragma once
// Shows the options dialog to the user, modally and without a parent window:
// the Win32 dialog in the Windows build, a line-by-line console dialog on the
// standard streams elsewhere. Returns true when the user confirmed with OK;
// `values` then holds what the dialog read back (ports not yet replaced by
// their defaults). On Cancel, or when the dialog cannot be shown, returns
// false and leaves `values` as it was. Runs on the calling thread; never throws.

#include "net/ServiceSettings.h"

namespace quill {

bool runOptionsDialog(SettingsValues& values) noexcept;

} // namespace quill
