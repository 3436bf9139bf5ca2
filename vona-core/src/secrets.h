// Credential search: does a text hold one of ten well-known credential
// shapes (API keys, access tokens, private-key blocks, web tokens), and
// which one comes first in the fixed pattern order.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace vona::core {

// Pattern index -> name. Index order is the answer's priority: a text that
// holds several shapes is reported with the smallest index among them.
inline constexpr std::array<std::string_view, 10> SECRET_PATTERN_NAMES = {
    "aws_access_key",     // AKIA + exactly 16 [A-Z0-9]
    "openai_api_key",     // sk- (+ optional proj-) + 20 or more url-safe
    "anthropic_api_key",  // sk-ant- + 50 or more url-safe
    "github_pat",         // ghp_ + exactly 36 alnum
    "github_oauth",       // gho_ + exactly 36 alnum
    "github_app",         // ghu_ or ghs_ + exactly 36 alnum
    "google_api",         // AIza + exactly 35 url-safe
    "slack_token",        // xox[baprs]- + 10 or more [A-Za-z0-9-]
    "private_key_pem",    // -----BEGIN [RSA |EC |DSA |OPENSSH ]PRIVATE KEY-----
    "jwt",                // eyJ+10 url-safe . eyJ+10 url-safe . 10 url-safe
};

// Shortest text any of the shapes can occur in (the Slack token).
inline constexpr size_t SECRET_MIN_LENGTH = 15;

// The ten shapes as one scanner. Stateless apart from the choice of the
// candidate filter for this processor, made once per process.
class SecretPatterns {
public:
    using ScanFn = int (*)(const unsigned char* text, size_t size);

    // Index of the first shape (in pattern order) that occurs anywhere in
    // text, or -1. One pass, linear in the text.
    int first_match(std::string_view text) const {
        if (text.size() < SECRET_MIN_LENGTH) return -1;
        return scan_(reinterpret_cast<const unsigned char*>(text.data()), text.size());
    }

    explicit SecretPatterns(ScanFn scan) : scan_(scan) {}

private:
    ScanFn scan_;
};

// The process-wide scanner, built on first use.
const SecretPatterns& SECRET_PATTERNS();

// The name of the first shape found in text, or an empty view for none.
inline std::string_view find_secret(std::string_view text) {
    int i = SECRET_PATTERNS().first_match(text);
    return i < 0 ? std::string_view() : SECRET_PATTERN_NAMES[static_cast<size_t>(i)];
}

}  // namespace vona::core
