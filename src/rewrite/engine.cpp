// The scan engine's entry: the phases in order, with offsets as wide as the
// text needs.
#include "rewrite/engine.h"

#include "rewrite/scan.h"

namespace vorrel {

namespace engine {

template <typename Offset>
void scanWith(RewriteState& state, ModuleFiles& files) {
    Engine<Offset> engine{state, files};
    findKeys(engine);
    findMembers(engine);
    readUses(engine);
    replayLines(engine);
    paintFinalText(engine);
}

template void scanWith<std::uint32_t>(RewriteState&, ModuleFiles&);
template void scanWith<std::uint64_t>(RewriteState&, ModuleFiles&);

}  // namespace engine

void scanText(RewriteState& state, ModuleFiles& files) {
    state.sourceChanged = false;
    // 32 bits reach every offset of a text below 4 GiB, and its end.
    if (state.sourceText.size() < (std::uint64_t(1) << 32)) {
        engine::scanWith<std::uint32_t>(state, files);
    } else {
        engine::scanWith<std::uint64_t>(state, files);
    }
}

}  // namespace vorrel
