// The byte-level work of reading messages in any character set: the name a
// message gives its character set, and the check that bytes are UTF-8.
#pragma once

#include <string_view>

namespace vellomar {

// MSH-18 of a message text that begins with "MSH", as a key for the codec:
// its first component of its first repetition with ASCII White_Space and the
// information separators 0x1C..0x1F stripped; empty when there is none. The
// header line ends at the first CR, LF or 0x1C; fields are cut at the single
// byte after "MSH", and the component and repetition separators are the
// first two bytes of MSH-2, as the package's decode() reads them.
std::string_view header_charset(std::string_view text);

// Whether `text` is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF): what the interpreter's strict decoder accepts.
bool is_utf8(std::string_view text);

} // namespace vellomar
