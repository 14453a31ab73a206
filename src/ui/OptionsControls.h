#pragma once
// The controls of the options dialog as its logic sees them, addressed by
// control id. The Win32 dialog implements this over its window; the console
// front end over a table of its own; tests over a map.

#include <string>

namespace quill {

class OptionsControls {
public:
    virtual ~OptionsControls() = default;
    virtual void setCaption(const std::string& text) = 0;
    virtual void setText(int id, const std::string& text) = 0;
    virtual std::string text(int id) const = 0;
    // Check boxes and radio buttons. checkState follows the button's own
    // convention: 0 unchecked, 1 checked, 2 indeterminate; greater than zero
    // counts as checked.
    virtual void setChecked(int id, bool checked) = 0;
    virtual int checkState(int id) const = 0;
    virtual void setEnabled(int id, bool enabled) = 0;
};

} // namespace quill
