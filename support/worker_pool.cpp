// The process-wide worker pool.
//
// Jobs are index ranges. Each job carries an atomic claim cursor; whoever
// works on the job (pool workers and the submitting thread itself) claims a
// chunk of about remaining / (2 * participants) indexes at a time, so the
// first chunks give each thread a couple of large pieces and the tail is
// handed out in ever smaller pieces to whichever thread runs idle first.
// Every index is claimed exactly once because the cursor only moves forward.
//
// The submitting thread helps with its own job. That keeps a job moving even
// when every worker is busy with other callers' jobs (or when no worker
// thread could be started), and it makes a nested parallel_for from inside a
// body safe: the waiting thread can always finish its job alone.
//
// After fork() the child has none of the parent's threads, and the pool's
// mutex may have been held by one of them. The child therefore forgets the
// old pool without touching it (the object is leaked on purpose) and builds
// a fresh one on its next parallel call.
#include "worker_pool.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "error.h"

namespace vona {
namespace {

// ---- How many workers -------------------------------------------------

size_t affinity_cpus() {
    // The mask may be wider than the fixed cpu_set_t on very large machines.
    for (int ncpu = 1024; ncpu <= (1 << 20); ncpu *= 2) {
        cpu_set_t* set = CPU_ALLOC(ncpu);
        if (!set) break;
        size_t size = CPU_ALLOC_SIZE(ncpu);
        CPU_ZERO_S(size, set);
        if (sched_getaffinity(0, size, set) == 0) {
            int count = CPU_COUNT_S(size, set);
            CPU_FREE(set);
            return count > 0 ? static_cast<size_t>(count) : 1;
        }
        int err = errno;
        CPU_FREE(set);
        if (err != EINVAL) break;
    }
    long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<size_t>(online) : 1;
}

bool read_file(const std::string& path, std::string& out) {
    FILE* f = std::fopen(path.c_str(), "re");
    if (!f) return false;
    out.clear();
    char buf[4096];
    size_t k;
    while ((k = std::fread(buf, 1, sizeof buf, f)) > 0 && out.size() < (1u << 20)) out.append(buf, k);
    std::fclose(f);
    return true;
}

std::vector<std::string_view> split(std::string_view s, char sep) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        size_t end = s.find(sep, start);
        parts.push_back(s.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

bool has_item(std::string_view list, std::string_view item) {
    for (auto p : split(list, ','))
        if (p == item) return true;
    return false;
}

bool parse_number(std::string_view s, double& v) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.remove_suffix(1);
    if (s.empty()) return false;
    std::string tmp(s);
    char* end = nullptr;
    v = std::strtod(tmp.c_str(), &end);
    return end && *end == '\0';
}

// Processors allowed by a quota/period pair, or 0 for no limit.
size_t quota_cpus(double quota, double period) {
    if (!(quota > 0) || !(period > 0)) return 0;
    double c = std::ceil(quota / period);
    return c < 1 ? 1 : static_cast<size_t>(std::min(c, 1e6));
}

size_t cpu_max_file(const std::string& dir) {  // cgroup v2: "max 100000" or "200000 100000"
    std::string text;
    if (!read_file(dir + "/cpu.max", text)) return 0;
    auto fields = split(text, ' ');
    double quota, period;
    if (fields.size() < 2 || !parse_number(fields[0], quota) || !parse_number(fields[1], period)) return 0;
    return quota_cpus(quota, period);
}

size_t cfs_files(const std::string& dir) {  // cgroup v1: quota -1 means none
    std::string q, p;
    double quota, period;
    if (!read_file(dir + "/cpu.cfs_quota_us", q) || !read_file(dir + "/cpu.cfs_period_us", p)) return 0;
    if (!parse_number(q, quota) || !parse_number(p, period)) return 0;
    return quota_cpus(quota, period);
}

struct CgroupMount {
    bool v2;
    std::string root;   // the part of the hierarchy mounted there
    std::string point;  // where it is mounted
};

std::vector<CgroupMount> cgroup_mounts() {
    std::vector<CgroupMount> mounts;
    std::string text;
    if (read_file("/proc/self/mountinfo", text)) {
        for (auto line : split(text, '\n')) {
            // id parent dev root point options [optional...] - fstype source superoptions
            auto f = split(line, ' ');
            size_t dash = 0;
            while (dash < f.size() && f[dash] != "-") ++dash;
            if (dash < 5 || dash + 1 >= f.size()) continue;
            std::string_view fstype = f[dash + 1];
            bool v2 = fstype == "cgroup2";
            bool v1cpu = fstype == "cgroup" && dash + 3 < f.size() && has_item(f[dash + 3], "cpu");
            if (v2 || v1cpu) mounts.push_back({v2, std::string(f[3]), std::string(f[4])});
        }
    }
    if (mounts.empty()) {  // the usual places
        mounts.push_back({true, "/", "/sys/fs/cgroup"});
        mounts.push_back({true, "/", "/sys/fs/cgroup/unified"});
        mounts.push_back({false, "/", "/sys/fs/cgroup/cpu"});
        mounts.push_back({false, "/", "/sys/fs/cgroup/cpu,cpuacct"});
    }
    return mounts;
}

// The tightest CPU quota on the process's cgroup and its ancestors; 0 when
// none is set or none can be read.
size_t cgroup_cpus() {
    std::string v2_path = "/", v1_path = "/";
    std::string text;
    if (read_file("/proc/self/cgroup", text)) {
        for (auto line : split(text, '\n')) {
            // hierarchy-id:controllers:path (the path may itself hold colons)
            size_t a = line.find(':');
            size_t b = a == std::string_view::npos ? a : line.find(':', a + 1);
            if (b == std::string_view::npos) continue;
            std::string_view controllers = line.substr(a + 1, b - a - 1);
            std::string_view path = line.substr(b + 1);
            if (line.substr(0, a) == "0" && controllers.empty()) v2_path = std::string(path);
            else if (has_item(controllers, "cpu")) v1_path = std::string(path);
        }
    }
    size_t best = 0;
    auto take = [&](size_t c) {
        if (c && (!best || c < best)) best = c;
    };
    for (const auto& m : cgroup_mounts()) {
        std::string path = m.v2 ? v2_path : v1_path;
        // Inside a cgroup namespace or a bind mount only the part below the
        // mount's root is visible.
        if (m.root != "/" && path.compare(0, m.root.size(), m.root) == 0) path = path.substr(m.root.size());
        if (path.empty() || path[0] != '/') path = "/" + path;
        // Walk up to the mount point: a parent's limit binds the child too.
        for (;;) {
            std::string dir = m.point + (path == "/" ? "" : path);
            take(m.v2 ? cpu_max_file(dir) : cfs_files(dir));
            if (path == "/") break;
            size_t slash = path.rfind('/');
            path = slash == 0 ? "/" : path.substr(0, slash);
        }
    }
    return best;
}

size_t wanted_workers() {
    size_t n = affinity_cpus();
    size_t quota = cgroup_cpus();
    if (quota && quota < n) n = quota;
    return n < 1 ? 1 : n;
}

// ---- Jobs -------------------------------------------------------------

struct Job {
    Job(size_t n_, const std::function<void(size_t)>& body_, size_t participants)
        : body(body_), n(n_), divisor(2 * participants) {}

    const std::function<void(size_t)>& body;
    const size_t n;
    const size_t divisor;

    alignas(64) std::atomic<size_t> cursor{0};  // next unclaimed index
    alignas(64) std::atomic<size_t> finished{0};  // indexes whose piece has ended
    std::atomic<size_t> ran{0};                    // bodies that returned normally
    std::atomic<bool> failed{false};
    std::exception_ptr error;  // written once, by the thread that set failed

    // Guarded by the pool's mutex.
    size_t users = 0;  // workers currently on this job
    bool listed = false;
    std::condition_variable idle;  // users dropped to 0
};

bool claim(Job& job, size_t& begin, size_t& end) {
    size_t cur = job.cursor.load(std::memory_order_relaxed);
    while (cur < job.n) {
        size_t chunk = std::max<size_t>(1, (job.n - cur) / job.divisor);
        if (job.cursor.compare_exchange_weak(cur, cur + chunk, std::memory_order_relaxed)) {
            begin = cur;
            end = cur + chunk;
            return true;
        }
    }
    return false;
}

void run_pieces(Job& job) {
    size_t begin, end;
    while (claim(job, begin, end)) {
        size_t ok = 0;
        for (size_t i = begin; i < end; ++i) {
            // Once a piece failed the call fails anyway; skip the rest.
            if (job.failed.load(std::memory_order_relaxed)) continue;
            try {
                job.body(i);
                ++ok;
            } catch (...) {
                if (!job.failed.exchange(true, std::memory_order_acq_rel)) job.error = std::current_exception();
            }
        }
        if (ok) job.ran.fetch_add(ok, std::memory_order_relaxed);
        job.finished.fetch_add(end - begin, std::memory_order_release);
    }
}

// ---- The pool ---------------------------------------------------------

class Pool {
public:
    explicit Pool(size_t wanted) {
        // Workers take no asynchronous signals: those belong to the Python
        // threads, whose handlers the interpreter runs.
        sigset_t all, old;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &old);
        for (size_t i = 0; i < wanted; ++i) {
            try {
                std::thread(&Pool::worker_main, this).detach();
                ++workers_;
            } catch (const std::system_error&) {
                break;  // fewer workers; callers still finish their own jobs
            }
        }
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
    }

    size_t workers() const { return workers_; }

    void run(size_t n, const std::function<void(size_t)>& body) {
        Job job(n, body, workers_ + 1);
        {
            std::lock_guard<std::mutex> lk(mu_);
            jobs_.push_back(&job);
            job.listed = true;
        }
        // The caller takes a share itself, so n - 1 helpers are enough.
        size_t helpers = std::min(workers_, n - 1);
        if (helpers == workers_) work_.notify_all();
        else
            for (size_t i = 0; i < helpers; ++i) work_.notify_one();

        run_pieces(job);

        {
            std::unique_lock<std::mutex> lk(mu_);
            unlist(job);
            // Once unlisted no worker can join; wait for those still on it.
            // (A cancellable wait would poll here with wait_for.)
            job.idle.wait(lk, [&] { return job.users == 0; });
        }
        if (job.finished.load(std::memory_order_acquire) != n)
            VONA_FAIL("worker pool: " + std::to_string(job.finished.load()) + " of " + std::to_string(n) +
                      " items finished");
        if (job.error) std::rethrow_exception(job.error);
        if (job.ran.load(std::memory_order_relaxed) != n)
            VONA_FAIL("worker pool: " + std::to_string(job.ran.load()) + " of " + std::to_string(n) +
                      " items ran");
    }

private:
    void unlist(Job& job) {
        if (!job.listed) return;
        jobs_.erase(std::find(jobs_.begin(), jobs_.end(), &job));
        job.listed = false;
    }

    // Under mu_: the job with unclaimed work and the fewest workers, so that
    // concurrent callers share the workers. Drained jobs leave the list.
    Job* pick() {
        Job* best = nullptr;
        for (size_t i = 0; i < jobs_.size();) {
            Job* j = jobs_[i];
            if (j->cursor.load(std::memory_order_relaxed) >= j->n) {
                j->listed = false;
                jobs_.erase(jobs_.begin() + static_cast<std::ptrdiff_t>(i));
                continue;
            }
            if (!best || j->users < best->users) best = j;
            ++i;
        }
        return best;
    }

    void worker_main() {
        std::unique_lock<std::mutex> lk(mu_);
        for (;;) {
            Job* job = pick();
            if (!job) {
                work_.wait(lk);
                continue;
            }
            ++job->users;
            lk.unlock();
            run_pieces(*job);
            lk.lock();
            // The job lives on its caller's stack: after this notify (made
            // with mu_ held, which the caller needs before it can return)
            // this thread never touches it again.
            if (--job->users == 0) job->idle.notify_all();
        }
    }

    std::mutex mu_;
    std::condition_variable work_;
    std::vector<Job*> jobs_;
    size_t workers_ = 0;
};

// The pool is reached through g_pool; g_create serialises its creation.
std::atomic<Pool*> g_pool{nullptr};
std::mutex g_create;

// Fork: hold g_create across fork() so the child never inherits it locked by
// a thread it does not have. The pool's own mutex may be inherited locked,
// but the child never looks at the old pool.
void before_fork() { g_create.lock(); }
void after_fork_parent() { g_create.unlock(); }
void after_fork_child() {
    g_pool.store(nullptr, std::memory_order_relaxed);  // leaked: its threads are gone
    g_create.unlock();
}

// Registered when the module is loaded, not on first use: pthread_atfork
// takes the lock that fork() holds while it runs before_fork.
const int g_atfork_registered = pthread_atfork(before_fork, after_fork_parent, after_fork_child);

Pool& pool() {
    Pool* p = g_pool.load(std::memory_order_acquire);
    if (p) return *p;
    std::lock_guard<std::mutex> lk(g_create);
    p = g_pool.load(std::memory_order_acquire);
    if (!p) {
        p = new Pool(wanted_workers());
        g_pool.store(p, std::memory_order_release);
    }
    return *p;
}

}  // namespace

void parallel_for(size_t n, const std::function<void(size_t)>& body) {
    (void)g_atfork_registered;
    Pool& p = pool();  // created also for an empty range
    if (n == 0) return;
    if (n == 1) {  // nothing to share
        body(0);
        return;
    }
    p.run(n, body);
}

size_t pool_worker_count() {
    Pool* p = g_pool.load(std::memory_order_acquire);
    return p ? std::max<size_t>(1, p->workers()) : wanted_workers();
}

}  // namespace vona
