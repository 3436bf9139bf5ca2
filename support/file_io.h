// Reading a whole file by path, with the messages users see.
#pragma once

#include <string>

#include "error.h"

namespace vona {

// The file's bytes, required to be valid UTF-8. Failures:
//   a NUL in the path: invalid input "file name contained an unexpected NUL byte"
//   open/read errors:  Os "<strerror> (os error N)"
//   not UTF-8:         invalid data "stream did not contain valid UTF-8"
Result<std::string> read_text_file(const std::string& path);

}  // namespace vona
