#include "kelvo/fast/ParallelRows.h"

#include <omp.h>

#include <algorithm>
#include <cfenv>

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

ParallelRows::ParallelRows(int threads, const RowKernelFactory& makeKernel) {
    const int count = std::clamp(threads, 1, MAX_THREADS);
    workers_.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        workers_.push_back(std::make_unique<Worker>());
        workers_.back()->kernel = makeKernel();
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
    }
    // Workers compute in the caller's floating-point environment (rounding
    // mode, and on x87 the precision that setFloatPrecision chose), which is
    // per thread.
    std::fenv_t environment;
    std::fegetenv(&environment);
    // Set on its own as well: MinGW's environment does not carry the SSE
    // rounding mode.
    const int rounding = std::fegetround();

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
            if (vell::stopRequested()) {
                continue;
            }
            const int y = ROWS_PER_TASK * group;
            std::uint32_t rowState = jitterJump(frameState, rowSteps * static_cast<unsigned>(y));
            traceGroup(worker, y, std::min(y + ROWS_PER_TASK, height), rowState, rowCounts);
        }

        vell::setCurrentPool(previousPool);
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
