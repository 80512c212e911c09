#include "rewrite/insertion.h"

#include <vector>

#include "text/text.h"

namespace vorrel {

std::size_t insertionOffset(std::string_view text) {
    for (std::size_t start = 0;;) {
        if (start >= text.size() || text[start] != '$') return start;
        const std::size_t end = text.find(lineBreak, start);
        if (end == std::string_view::npos) return std::string_view::npos;
        start = end + lineBreak.size();
    }
}

std::string includeBlocksText(std::string_view foundBlocks) {
    std::vector<std::string_view> blocks;
    for (std::size_t start = 0;;) {
        const std::size_t end = foundBlocks.find(lineBreak, start);
        blocks.push_back(foundBlocks.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) break;
        start = end + lineBreak.size();
    }
    // Every block goes in front of the same line, so the last one ends up first.
    std::string text;
    for (auto block = blocks.rbegin(); block != blocks.rend(); ++block) {
        if (block->empty()) continue;
        text += replaceAll(*block, "~", lineBreak);
        text += lineBreak;
    }
    return text;
}

InsertionOutcome insertIncludeBlocks(RewriteState& state) {
    InsertionOutcome outcome;
    if (state.sourceChanged) {
        outcome.save = saveFile(state.sourcePath, {state.sourceText}, &state.sourceStamp);
        if (outcome.save != SaveStatus::saved) return outcome;
        pauseSeconds(0.1);
    }
    if (state.foundBlockCount == 0) return outcome;
    // The scan's text is not needed any more; its memory takes the file again.
    std::string reloadedSource = std::move(state.sourceText);
    outcome.reload = loadFile(state.sourcePath, reloadedSource, &state.sourceStamp);
    if (outcome.reload != LoadStatus::loaded) return outcome;
    const std::size_t offset = insertionOffset(reloadedSource);
    if (offset == std::string::npos) return outcome;
    const std::string blocks = includeBlocksText(state.foundBlocks);
    const std::string_view text = reloadedSource;
    outcome.save =
        saveFile(state.sourcePath, {text.substr(0, offset), blocks, text.substr(offset)}, &state.sourceStamp);
    return outcome;
}

}  // namespace vorrel
