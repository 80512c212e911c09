#include "phases.h"

#include <chrono>
#include <cstdio>

#include "catalogue/catalogue.h"
#include "rewrite/engine.h"
#include "system/system.h"
#include "text/text.h"

namespace vorrel_bench {

namespace {

using Clock = std::chrono::steady_clock;

// Runs step on engine and returns its seconds.
template <typename Step>
double timed(Step step, vorrel::engine::Engine<std::uint32_t>& engine) {
    const Clock::time_point start = Clock::now();
    step(engine);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int phaseTimes(const std::string& libraryFolder, const std::string& sourcePath) {
    using namespace vorrel::engine;
    vorrel::RewriteState state;
    state.vorrelPrefix = libraryFolder + "\\";
    vorrel::addLine(state.catalogueList, vorrel::buildCatalogue(libraryFolder));
    if (vorrel::loadFile(sourcePath, state.sourceText) != vorrel::LoadStatus::loaded) return 1;
    if (state.sourceText.size() >= (std::uint64_t(1) << 32)) return 1;
    vorrel::ModuleFiles files;
    Engine<std::uint32_t> engine{state, files};
    // The two searches, each with the few lines that choose its patterns.
    const double search = timed(findKeys<std::uint32_t>, engine) + timed(findMembers<std::uint32_t>, engine);
    const double setUp = timed(readUses<std::uint32_t>, engine);
    const double replay = timed(replayLines<std::uint32_t>, engine);
    const double finalText = timed(paintFinalText<std::uint32_t>, engine);
    std::printf("%.6f %.6f %.6f %.6f\n", search, setUp, replay, finalText);
    return 0;
}

}  // namespace vorrel_bench
