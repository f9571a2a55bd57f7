#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "kelvo/scene/RayCounts.h"
#include "kelvo/view/FrameTracer.h"
#include "velllib/colour.h"

namespace kelvo {

class FastTracer;
class RayTracer;

// Traces whole rows of a frame for one worker. Each worker has its own, made
// once and kept across frames, so whatever scratch it holds is never shared.
class RowKernel {
public:
    virtual ~RowKernel() = default;
    // Rows [firstRow, endRow) of a width-wide frame into pixels (the first word
    // is row firstRow's first pixel), stepping state on from its value at the
    // start of firstRow. counts, when given, grows by the rays traced.
    virtual void traceRows(std::uint32_t* pixels, int width, int firstRow, int endRow,
                           std::uint32_t& state, RayCounts* counts) = 0;
    // Makes whatever traceRows will need for a width-wide frame, before the
    // workers start: nothing is allocated while they run. May throw
    // std::bad_alloc.
    virtual void prepare(int /*width*/) {}
    // The same rows' colours before packing, stepping state and counts as
    // traceRows does. By default the packed pixels read back as colours
    // (channel / 255), for pictures that are made packed.
    virtual void traceColours(vell::Colour* colours, int width, int firstRow, int endRow,
                              std::uint32_t& state, RayCounts* counts);

private:
    std::vector<std::uint32_t> packed_;
};

// Makes one worker's kernel; called once per worker, on the constructing thread.
using RowKernelFactory = std::function<std::unique_ptr<RowKernel>()>;

// The view's own per-pixel loop (RayTracer::traceRows) as a kernel. It reads
// the view's camera and pixel size at every call, so it follows moves and
// resizes.
RowKernelFactory literalRows(const RayTracer& view);

// The program's path: the fast tracer, with one scratch per worker, reading
// the view's camera and pixel size at every call. Same pixels as literalRows.
RowKernelFactory fastRows(const RayTracer& view, const FastTracer& tracer);

// The threads the hardware runs at once (at least 1).
int hardwareThreads();

// Traces the rows of each frame on a team of worker threads that persists
// across frames (the OpenMP runtime's pool), rows handed out ROWS_PER_TASK at
// a time.
// The picture and the generator's final state are those of the single-threaded
// loop, for any thread count: row y starts from the frame's state jumped ahead
// by 2 * width * y steps.
class ParallelRows : public FrameTracer {
public:
    static constexpr int MAX_THREADS = 256;
    // Rows a worker takes at once: the fast kernel traces four rows together.
    static constexpr int ROWS_PER_TASK = 4;

    // threads from 1 to MAX_THREADS (clamped). Where the system cannot start
    // that many threads, fewer are used (threads() tells), with a note on
    // stderr.
    ParallelRows(int threads, const RowKernelFactory& makeKernel);
    ~ParallelRows() override;
    ParallelRows(const ParallelRows&) = delete;
    ParallelRows& operator=(const ParallelRows&) = delete;

    // Traces a width x height frame into pixels (rows top to bottom, no
    // padding). state is the generator's state at the frame's start and ends
    // where the literal loop leaves it. counts, when given, grows by the
    // frame's rays. A stop request (vell::stopRequested) starts no further
    // group of rows. An exception of a worker (std::bad_alloc) comes out
    // here, once every worker has stopped.
    void traceFrame(std::uint32_t* pixels, int width, int height, std::uint32_t& state,
                    RayCounts* counts) override;
    // The same frame's colours added into sums, whose mean goes to pixels;
    // each worker adds the rows it traced.
    void refineFrame(std::uint32_t* pixels, int width, int height, std::uint32_t& state,
                     RayCounts* counts, FrameSums& sums) override;

    int threads() const { return static_cast<int>(workers_.size()); }

private:
    struct Worker;
    // Runs traceGroup(worker, firstRow, endRow, rowState, counts) for each
    // group of rows on the team, then sets state and counts as a frame does.
    template <typename TraceGroup>
    void runFrame(int width, int height, std::uint32_t& state, RayCounts* counts,
                  const TraceGroup& traceGroup);

    std::vector<std::unique_ptr<Worker>> workers_;
};

}  // namespace kelvo
