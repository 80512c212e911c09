// The final text: the replay kept only the observed bytes current; every
// other byte takes the spelling of the last paint that covers it, so the
// paints are written again in the order of their times.
#include <algorithm>
#include <cstring>

#include "rewrite/engine.h"

namespace vorrel::engine {

template <typename Offset>
void paintFinalText(Engine<Offset>& engine) {
    std::vector<const Pattern<Offset>*> painted;
    for (const Pattern<Offset>& pattern : engine.patterns) {
        // A replayable pattern lies wholly on observed bytes, which are current.
        if (pattern.paintTime != 0 && !pattern.replayable) painted.push_back(&pattern);
    }
    std::sort(painted.begin(), painted.end(),
              [](const Pattern<Offset>* a, const Pattern<Offset>* b) { return a->paintTime < b->paintTime; });
    char* text = engine.state.sourceText.data();
    for (const Pattern<Offset>* pattern : painted) {
        const std::string x = spell(engine, pattern->painted);
        std::size_t next = 0;  // the next of the touching occurrences
        for (std::size_t i = 0; i < pattern->at.size(); ++i) {
            fetchAhead(text, engine.observed, pattern->at, i);
            const std::uint64_t at = pattern->at[i];
            const bool touches = pattern->allTouch || (next < pattern->touching.size() && pattern->touching[next] == i);
            if (!touches) std::memcpy(text + at, x.data(), x.size());
            next += touches && !pattern->allTouch;
            for (std::size_t j = 0; touches && j < x.size(); ++j)
                if (!isObserved(engine.observed, at + j)) text[at + j] = x[j];
        }
    }
}

template void paintFinalText(Engine<std::uint32_t>&);
template void paintFinalText(Engine<std::uint64_t>&);

}  // namespace vorrel::engine
