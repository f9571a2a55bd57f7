// The tracing workers allocate nothing while they run: what they need is made
// before they start, so that running short of memory is an exception on the
// caller's thread, not a failure inside the parallel region. Counted by
// replacing the global allocation function for the whole test binary; it
// counts only on a thread inside a kernel's traceRows.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "kelvo/fast/FastTracer.h"
#include "kelvo/fast/ParallelRows.h"
#include "kelvo/viewer/ViewRows.h"
#include "kelvo/viewer/Viewer.h"
#include "tests/kelvo/tree/tree_helpers.h"

namespace {

thread_local bool insideKernel = false;
std::atomic<long> allocationsInside{0};

}  // namespace

void* operator new(std::size_t bytes) {
    if (insideKernel) {
        ++allocationsInside;
    }
    if (void* memory = std::malloc(bytes != 0 ? bytes : 1)) {
        return memory;
    }
    throw std::bad_alloc();
}

// GCC sees new's result reach free and cannot tell that new above is malloc.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
// Every unaligned form is replaced, so that no memory from a sanitizer's own
// allocation functions reaches free here, nor ours its deallocation.
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(bytes);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t bytes) { return ::operator new(bytes); }
void* operator new[](std::size_t bytes, const std::nothrow_t& tag) noexcept {
    return ::operator new(bytes, tag);
}
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }

namespace kelvo {
namespace {

// Passes the rows on to a kernel of the program, counting what it allocates.
class Counted final : public RowKernel {
public:
    explicit Counted(std::unique_ptr<RowKernel> inner) : inner_(std::move(inner)) {}
    void prepare(int width) override { inner_->prepare(width); }
    void traceRows(std::uint32_t* pixels, int width, int firstRow, int endRow,
                   std::uint32_t& state, RayCounts* counts) override {
        insideKernel = true;
        inner_->traceRows(pixels, width, firstRow, endRow, state, counts);
        insideKernel = false;
    }

private:
    std::unique_ptr<RowKernel> inner_;
};

TEST(ParallelRows, WorkersAllocateNothingWhileTheyTrace) {
    const Scene& scene = testing::sharedScene();
    const FastTracer tracer(scene.world);
    Viewer view(&scene.world, Scene::makeObserver(), RayTracer::EXTEND);
    const int size[2] = {300, 40};
    view.onResize(size);
    const RowKernelFactory program = viewRows(view, tracer);
    ParallelRows rows(2, [&] { return std::make_unique<Counted>(program()); });
    std::vector<std::uint32_t> pixels(300 * 40);
    for (const ViewMode mode : {ViewMode::SHADED, ViewMode::LEAVES, ViewMode::CELLS}) {
        view.viewMode = mode;
        // The first frame of each size too: a wider one after a narrower.
        for (const int width : {120, 300}) {
            allocationsInside = 0;
            std::uint32_t state = 1;
            RayCounts counts;
            rows.traceFrame(pixels.data(), width, 40, state, &counts);
            EXPECT_EQ(allocationsInside.load(), 0)
                << "view " << static_cast<int>(mode) << ", width " << width;
            EXPECT_EQ(counts.primary, static_cast<std::uint64_t>(width) * 40);
        }
    }
}

}  // namespace
}  // namespace kelvo
