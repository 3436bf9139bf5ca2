// The raw rate of the token scanner, without Python: reads a corpus file and
// walks its tokens several times (median of the repeats), then the same with
// owned copies of the token strings as iter_token_strings makes them.
//   scanner_bench CORPUS_FILE [REPEATS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tokens.h"

namespace {

template <class F>
double median_seconds(int repeats, F&& f) {
    std::vector<double> t;
    f();  // warm-up
    for (int i = 0; i < repeats; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        f();
        t.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS_FILE [REPEATS]\n", argv[0]);
        return 2;
    }
    int repeats = argc > 2 ? std::atoi(argv[2]) : 7;
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::perror(argv[1]);
        return 1;
    }
    std::stringstream buf;
    buf << in.rdbuf();
    const std::string text = buf.str();
    const double mb = static_cast<double>(text.size()) / 1e6;

    size_t tokens = 0, checksum = 0;
    double scan = median_seconds(repeats, [&] {
        vona::core::TokenIterator it(text);
        size_t s, e, n = 0, sum = 0;
        while (it.next(s, e)) {
            ++n;
            sum += e - s;
        }
        tokens = n;
        checksum = sum;
    });
    size_t copies = 0;
    double owned = median_seconds(repeats, [&] { copies = vona::core::token_strings(text).size(); });
    if (copies != tokens) {
        std::fprintf(stderr, "token counts differ: %zu vs %zu\n", tokens, copies);
        return 1;
    }
    std::printf("corpus %.1f MB, %zu tokens (%zu bytes in tokens)\n", mb, tokens, checksum);
    std::printf("scan %.1f ms %.1f MB/s %.1f Mtok/s\n", scan * 1e3, mb / scan, tokens / scan / 1e6);
    std::printf("owned %.1f ms %.1f MB/s %.1f Mtok/s\n", owned * 1e3, mb / owned, tokens / owned / 1e6);
    return 0;
}
