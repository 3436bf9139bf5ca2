#include "shard_counter.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

#include <fcntl.h>
#include <unistd.h>

#include "gzip_reader.h"
#include "json_reader.h"
#include "utf8.h"
#include "worker_pool.h"

namespace vona::shard {

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { ::close(fd_); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// The reader and its buffers together, on the heap: 40 KiB is more than a
// worker's stack should carry.
struct ShardStream {
    explicit ShardStream(int fd) : gz(fd), lines(gz) {}
    GzipReader gz;
    LineReader lines;
};

inline uint64_t saturating_add(uint64_t a, uint64_t b) {
    uint64_t s = a + b;
    return s < a ? std::numeric_limits<uint64_t>::max() : s;
}

}  // namespace

Result<core::TokenCounts> count_shard(const std::string& path, uint64_t max_token_len, double boost_weight) {
    if (path.find('\0') != std::string::npos)
        return IoError::invalid_input("file name contained an unexpected NUL byte");
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return IoError::os(errno);
    FileDescriptor file(fd);

    auto stream = std::make_unique<ShardStream>(file.get());
    core::TokenCounts counts;
    std::string text;
    std::string_view line;
    bool ended_by_lf = false;
    for (;;) {
        auto status = stream->lines.next(line, ended_by_lf);
        if (status == LineReader::Status::End) break;
        if (status == LineReader::Status::Error) return std::move(stream->lines.error());
        // Checked before the CR is cut: a CR is valid UTF-8 either way, and the
        // check sees exactly the bytes of the line.
        if (!utf8::valid(line)) return IoError::invalid_data("stream did not contain valid UTF-8");
        if (ended_by_lf && !line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        bool has_text = false;
        std::string fault = json::parse_text_line(line, text, has_text);
        if (!fault.empty()) return IoError::invalid_data("shard JSON parse error: " + fault);
        if (has_text) core::count_tokens_into(text, counts, max_token_len, boost_weight);
        if (text.capacity() > LineReader::KEEP_CAPACITY) std::string().swap(text);
    }
    return counts;
}

uint64_t boost_to_count(double boost) {
    double r = std::round(boost);  // halves away from zero
    if (!(r > 0.0)) return 0;      // NaN, zero and negatives
    if (r >= 18446744073709551616.0) return std::numeric_limits<uint64_t>::max();
    return static_cast<uint64_t>(r);
}

void ShardMerge::add(core::TokenCounts&& shard) {
    if (first_) {
        // Adding one table to empty ones: the sums are the values themselves
        // (0.0 + b == b for every boost a positive weight can give), so the
        // first table is taken over instead of copied.
        first_ = false;
        counts_ = std::move(shard.counts);
        boosts_ = std::move(shard.boosts);
        return;
    }
    shard.counts.for_each([&](const std::string& k, uint64_t v) {
        uint64_t& c = counts_[k];
        c = saturating_add(c, v);
    });
    shard.boosts.for_each([&](const std::string& k, double v) { boosts_[k] += v; });
}

FinalCounts ShardMerge::finish() {
    boosts_.for_each([&](const std::string& part, double b) {
        uint64_t r = boost_to_count(b);
        if (r == 0) return;
        uint64_t& c = counts_[part];
        c = saturating_add(c, r);
    });
    boosts_ = {};
    return std::move(counts_);
}

FinalCounts merge_shard_counts(std::vector<core::TokenCounts> results) {
    ShardMerge merge;
    for (auto& r : results) merge.add(std::move(r));
    return merge.finish();
}

namespace {

// One count_frequencies call. Shards are claimed in list order, so results
// come in roughly that order, and each finished result is folded into the
// merge as soon as every earlier shard has been folded. Only results that
// overtook an unfinished earlier shard wait in `pending`, which keeps memory
// near (number of workers) tables instead of (number of shards) tables; the
// additions are exactly those of a merge in list order.
class ShardRun {
public:
    ShardRun(const std::vector<std::string>& paths, double boost_weight, uint64_t max_token_len)
        : paths_(paths), boost_weight_(boost_weight), max_token_len_(max_token_len), pending_(paths.size()) {}

    void work() {
        if (stop_.load(std::memory_order_relaxed)) return;
        size_t j = ticket_.fetch_add(1, std::memory_order_relaxed);
        auto r = count_shard(paths_[j], max_token_len_, boost_weight_);
        if (!r) {
            record(std::move(r.error()));
            return;
        }
        if (stop_.load(std::memory_order_relaxed)) return;  // the call fails anyway
        deposit(j, std::move(r.value()));
    }

    Result<FinalCounts> result() {
        if (stop_.load(std::memory_order_relaxed)) {
            std::lock_guard<std::mutex> lock(error_mutex_);
            if (error_) return std::move(*error_);
            VONA_FAIL("a shard failed without recording its error");
        }
        if (next_ != paths_.size()) VONA_FAIL("not every shard result reached the merge");
        return merge_.finish();
    }

private:
    // The first error to take the slot wins; a worker never waits for it.
    void record(IoError e) {
        if (error_mutex_.try_lock()) {
            if (!error_) error_ = std::move(e);
            error_mutex_.unlock();
        }
        stop_.store(true, std::memory_order_relaxed);
    }

    void deposit(size_t j, core::TokenCounts&& counts) {
        auto owned = std::make_unique<core::TokenCounts>(std::move(counts));
        std::unique_lock<std::mutex> lock(fold_mutex_);
        pending_[j] = std::move(owned);
        if (folding_) return;  // the thread that is folding will take it
        folding_ = true;
        while (next_ < pending_.size() && pending_[next_]) {
            auto shard = std::move(pending_[next_]);
            lock.unlock();
            merge_.add(std::move(*shard));
            shard.reset();
            lock.lock();
            ++next_;
        }
        folding_ = false;
    }

    const std::vector<std::string>& paths_;
    double boost_weight_;
    uint64_t max_token_len_;
    std::atomic<bool> stop_{false};
    std::atomic<size_t> ticket_{0};
    std::mutex error_mutex_;
    std::optional<IoError> error_;
    std::mutex fold_mutex_;
    std::vector<std::unique_ptr<core::TokenCounts>> pending_;
    size_t next_ = 0;
    bool folding_ = false;
    ShardMerge merge_;
};

}  // namespace

Result<FinalCounts> count_frequencies(const std::vector<std::string>& paths, double boost_weight,
                                      uint64_t max_token_len) {
    if (paths.empty()) return FinalCounts{};
    ShardRun run(paths, boost_weight, max_token_len);
    parallel_for(paths.size(), [&](size_t) { run.work(); });
    return run.result();
}

}  // namespace vona::shard
