#include "kelvo/fast/ParallelRows.h"

#include <omp.h>

#include <algorithm>
#include <atomic>
#include <cfenv>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "kelvo/fast/FastTracer.h"
#include "kelvo/view/Jitter.h"
#include "kelvo/view/RayTracer.h"
#include "velllib/app.h"
#include "velllib/vell_list.h"

namespace kelvo {

namespace {

class LiteralRowKernel final : public RowKernel {
public:
    explicit LiteralRowKernel(const RayTracer& view) : view_(view) {}
    void traceRows(std::uint32_t* pixels, int width, int firstRow, int endRow,
                   std::uint32_t& state, RayCounts* counts) override {
        view_.traceRows(pixels, width, firstRow, endRow, state, counts);
    }
    void traceColours(vell::Colour* colours, int width, int firstRow, int endRow,
                      std::uint32_t& state, RayCounts* counts) override {
        view_.traceColours(colours, width, firstRow, endRow, state, counts);
    }

private:
    const RayTracer& view_;
};

class FastRowKernel final : public RowKernel {
public:
    FastRowKernel(const RayTracer& view, const FastTracer& tracer) : view_(view), tracer_(tracer) {}
    void prepare(int) override { tracer_.prepare(scratch_); }
    void traceRows(std::uint32_t* pixels, int width, int firstRow, int endRow,
                   std::uint32_t& state, RayCounts* counts) override {
        tracer_.traceRows(view_.observer, view_.pixelWidth, view_.pixelHeight, pixels, width,
                          firstRow, endRow, state, scratch_, counts);
    }
    void traceColours(vell::Colour* colours, int width, int firstRow, int endRow,
                      std::uint32_t& state, RayCounts* counts) override {
        tracer_.traceColours(view_.observer, view_.pixelWidth, view_.pixelHeight, colours, width,
                             firstRow, endRow, state, scratch_, counts);
    }

private:
    const RayTracer& view_;
    const FastTracer& tracer_;
    FastTracer::Scratch scratch_;  // this worker's predictions, kept across frames
};

}  // namespace

void RowKernel::traceColours(vell::Colour* colours, int width, int firstRow, int endRow,
                             std::uint32_t& state, RayCounts* counts) {
    packed_.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(endRow - firstRow));
    traceRows(packed_.data(), width, firstRow, endRow, state, counts);
    for (const std::uint32_t word : packed_) {
        auto channel = [word](int shift) { return static_cast<float>((word >> shift) & 0xffu) / 255.0f; };
        *colours++ = {channel(16), channel(8), channel(0)};
    }
}

RowKernelFactory fastRows(const RayTracer& view, const FastTracer& tracer) {
    return [&view, &tracer] { return std::make_unique<FastRowKernel>(view, tracer); };
}

RowKernelFactory literalRows(const RayTracer& view) {
    return [&view] { return std::make_unique<LiteralRowKernel>(view); };
}

int hardwareThreads() { return std::max(1, omp_get_num_procs()); }

// A cache line of its own, so that counting on one thread never slows another.
struct alignas(64) ParallelRows::Worker {
    std::unique_ptr<RowKernel> kernel;
    // The list-node pool is single-threaded: each worker's queries take their
    // nodes from its own.
    vell::NodePool pool;
    RayCounts counts;
    // The colours of the rows being refined.
    std::vector<vell::Colour> colours;
};

namespace {

// What the rest of a run may need once the threads are started, kept free
// while they start: a run short of memory goes on with fewer threads rather
// than having none left for its picture.
constexpr std::size_t MEMORY_KEPT_FREE = std::size_t{64} << 20;

// How many of wanted threads (the caller's own among them) the system lets
// run at once: the others are started, all kept alive together, then ended.
// The OpenMP runtime ends the program when it cannot start a thread, so the
// team is never asked for more than this.
int startableThreads(int wanted) {
    const std::unique_ptr<char[]> keptFree(new (std::nothrow) char[MEMORY_KEPT_FREE]);
    if (!keptFree) {
        return 1;
    }
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    std::vector<std::thread> started;
    started.reserve(static_cast<std::size_t>(wanted));
    while (static_cast<int>(started.size()) + 1 < wanted) {
        try {
            started.emplace_back([&] {
                // A thread's first allocation may give it an arena of the
                // allocator's own, whose address space stays reserved: taken
                // here, it counts against what the team may use.
                std::free(std::malloc(64));
                std::unique_lock<std::mutex> lock(mutex);
                released.wait(lock, [&] { return release; });
            });
        } catch (const std::system_error&) {
            break;
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        release = true;
    }
    released.notify_all();
    for (std::thread& thread : started) {
        thread.join();
    }
    return static_cast<int>(started.size()) + 1;
}

}  // namespace

ParallelRows::ParallelRows(int threads, const RowKernelFactory& makeKernel) {
    const int wanted = std::clamp(threads, 1, MAX_THREADS);
    const int startable = wanted > 1 ? startableThreads(wanted) : 1;
    // Where the system refused threads, memory is short: half of them leave
    // room for what the workers and the allocator take while they run.
    const int count = startable < wanted ? std::max(1, startable / 2) : wanted;
    if (count < wanted) {
        std::fprintf(stderr, "kelvo: only %d of %d threads could be started; tracing on %d\n",
                     startable, wanted, count);
    }
    workers_.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        workers_.push_back(std::make_unique<Worker>());
        workers_.back()->kernel = makeKernel();
    }
    // The team starts now, while the memory its threads need is known to be
    // there, and persists for the frames.
#pragma omp parallel num_threads(count)
    {
    }
}

ParallelRows::~ParallelRows() = default;

template <typename TraceGroup>
void ParallelRows::runFrame(int width, int height, std::uint32_t& state, RayCounts* counts,
                            const TraceGroup& traceGroup) {
    if (width <= 0 || height <= 0) {
        return;  // no pixel, no step of the generator
    }
    const std::uint32_t frameState = state;
    const std::uint64_t rowSteps = 2u * static_cast<std::uint64_t>(width);
    for (auto& worker : workers_) {
        worker->counts = RayCounts{};
        worker->kernel->prepare(width);
    }
    // Workers compute in the caller's floating-point environment (rounding
    // mode, and on x87 the precision that setFloatPrecision chose), which is
    // per thread.
    std::fenv_t environment;
    std::fegetenv(&environment);
    // Set on its own as well: MinGW's environment does not carry the SSE
    // rounding mode.
    const int rounding = std::fegetround();
    // An exception may not leave a worker: the first is kept for the caller,
    // and the rows not yet begun are skipped.
    std::exception_ptr failure;
    std::atomic<bool> failed{false};

#pragma omp parallel num_threads(threads())
    {
        // Workers are indexed by team position, not by system thread: whichever
        // thread holds a position uses that position's kernel and pool for
        // this frame only.
        Worker& worker = *workers_[static_cast<std::size_t>(omp_get_thread_num())];
        std::fesetenv(&environment);
        std::fesetround(rounding);
        vell::NodePool* previousPool = vell::setCurrentPool(&worker.pool);
        RayCounts* rowCounts = counts != nullptr ? &worker.counts : nullptr;

        // Rows in groups: the fast kernel traces several rows together.
        const int groups = (height + ROWS_PER_TASK - 1) / ROWS_PER_TASK;
#pragma omp for schedule(dynamic, 1)
        for (int group = 0; group < groups; ++group) {
            // A stop request skips the rows not yet begun, so a stop waits
            // for at most one group of rows per worker.
            if (vell::stopRequested() || failed.load(std::memory_order_relaxed)) {
                continue;
            }
            const int y = ROWS_PER_TASK * group;
            std::uint32_t rowState = jitterJump(frameState, rowSteps * static_cast<unsigned>(y));
            try {
                traceGroup(worker, y, std::min(y + ROWS_PER_TASK, height), rowState, rowCounts);
            } catch (...) {
#pragma omp critical(kelvo_parallel_rows_failure)
                if (!failure) {
                    failure = std::current_exception();
                }
                failed.store(true);
            }
        }

        vell::setCurrentPool(previousPool);
    }
    if (failure) {
        std::rethrow_exception(failure);
    }

    if (counts != nullptr) {
        for (const auto& worker : workers_) {
            *counts += worker->counts;
        }
    }
    state = jitterJump(frameState, rowSteps * static_cast<unsigned>(height));
}

void ParallelRows::traceFrame(std::uint32_t* pixels, int width, int height,
                              std::uint32_t& state, RayCounts* counts) {
    runFrame(width, height, state, counts,
             [&](Worker& worker, int firstRow, int endRow, std::uint32_t& rowState,
                 RayCounts* rowCounts) {
                 worker.kernel->traceRows(pixels + static_cast<std::ptrdiff_t>(firstRow) * width,
                                          width, firstRow, endRow, rowState, rowCounts);
             });
}

void ParallelRows::refineFrame(std::uint32_t* pixels, int width, int height,
                               std::uint32_t& state, RayCounts* counts, FrameSums& sums) {
    if (width <= 0 || height <= 0) {
        return;
    }
    sums.beginFrame(width, height);
    runFrame(width, height, state, counts,
             [&](Worker& worker, int firstRow, int endRow, std::uint32_t& rowState,
                 RayCounts* rowCounts) {
                 worker.colours.resize(static_cast<std::size_t>(width) *
                                       static_cast<std::size_t>(endRow - firstRow));
                 worker.kernel->traceColours(worker.colours.data(), width, firstRow, endRow,
                                             rowState, rowCounts);
                 sums.addRows(worker.colours.data(), firstRow, endRow,
                              pixels + static_cast<std::ptrdiff_t>(firstRow) * width);
             });
}

}  // namespace kelvo
