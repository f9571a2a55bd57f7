// Times whole frames of the scene on one thread, camera at rest, by the
// view's literal loop or by the fast tracer, and prints each frame's thread
// CPU time and the median. Steady under valgrind --tool=callgrind too.
//   build/bench/kelvo_frame_timer fast|literal [frames] [width height [levels [last.png]]]

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "kelvo/app/kelvo.h"
#include "kelvo/fast/FastTracer.h"
#include "kelvo/view/RayTracer.h"
#include "kelvo/viewer/ImageFile.h"

namespace {

double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

}  // namespace

int main(int argc, char** argv) {
    const bool fast = argc < 2 || std::strcmp(argv[1], "literal") != 0;
    const int frames = argc > 2 ? std::atoi(argv[2]) : 5;
    const int width = argc > 4 ? std::atoi(argv[3]) : 1280;
    const int height = argc > 4 ? std::atoi(argv[4]) : 720;
    const int levels = argc > 5 ? std::atoi(argv[5]) : kelvo::SCENE_LEVELS;
    if (frames < 1 || width < 1 || height < 1 || levels < 0 || levels > kelvo::MAX_LEVELS) {
        std::fprintf(stderr,
                     "usage: kelvo_frame_timer fast|literal [frames] [width height [levels "
                     "[last.png]]]\n");
        return 2;
    }
    const double buildStart = threadSeconds();
    const kelvo::Scene scene(levels);
    std::printf("scene of %zu spheres, tree %dn/%de/%.2fd built in %.1f ms\n", scene.spheres.size(),
                scene.world.nodeCount, scene.world.elementCount,
                static_cast<double>(scene.world.averageDepth), 1e3 * (threadSeconds() - buildStart));
    kelvo::RayTracer view(&scene.world, kelvo::Scene::makeObserver(), 0);
    const int size[2] = {width, height};
    view.onResize(size);
    const kelvo::FastTracer tracer(scene.world);
    kelvo::FastTracer::Scratch scratch;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
    std::uint32_t state = 0xffffffffu;
    std::vector<double> seconds;
    kelvo::RayCounts counts;
    for (int f = 0; f < frames; ++f) {
        const double start = threadSeconds();
        if (fast) {
            tracer.traceRows(view.observer, view.pixelWidth, view.pixelHeight, pixels.data(), width,
                             0, height, state, scratch, &counts);
        } else {
            view.traceRows(pixels.data(), width, 0, height, state);
        }
        seconds.push_back(threadSeconds() - start);
        std::printf("frame %d: %.1f ms\n", f, 1e3 * seconds.back());
    }
    std::string error;
    if (argc > 6 && !kelvo::writePng(argv[6], pixels.data(), width, height, error)) {
        std::fprintf(stderr, "kelvo_frame_timer: %s\n", error.c_str());
        return 1;
    }
    std::sort(seconds.begin(), seconds.end());
    const double median = seconds[seconds.size() / 2];
    std::printf("%s (%s) %dx%d: median %.1f ms, %.2f fps; rays per frame %.0f primary, %.0f "
                "reflected, %.0f shadow\n",
                fast ? "fast" : "literal", fast ? kelvo::FastTracer::instructionSet() : "-", width,
                height, 1e3 * median, 1.0 / median, static_cast<double>(counts.primary) / frames,
                static_cast<double>(counts.reflected) / frames,
                static_cast<double>(counts.shadow) / frames);
    return 0;
}
