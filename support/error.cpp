#include "error.h"

#include <cstdio>
#include <cstring>

namespace vona {

void internal_failure(std::string message, const char* file, int line) {
    std::fprintf(stderr, "vona_tokenizer internal failure at %s:%d: %s\n", file, line, message.c_str());
    throw InternalFailure(std::move(message));
}

IoError IoError::os(int err) {
    char buf[256];
    // GNU strerror_r may return a static string instead of filling buf.
    const char* text = strerror_r(err, buf, sizeof buf);
    std::string m = text ? text : "Unknown error";
    m += " (os error ";
    m += std::to_string(err);
    m += ")";
    return {Kind::Os, err, std::move(m)};
}

}  // namespace vona
