// The source scan: finds the catalogue's match keys in the source, puts the
// letter case of every use right and collects the include blocks to insert.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "driver/tool_state.h"
#include "rewrite/module_files.h"
#include "system/system.h"

namespace vorrel {

/// Loads tool.sourcePath and scans it; anything but LoadStatus::loaded
/// leaves the scan undone.
LoadStatus scanSource(ToolState& tool);

/// How hard the scan tries to skip work that changes nothing, and how
/// compactly it keeps what the replay reads.
struct ScanLimits {
    /// Times the replay work that comparing whole texts, to find object
    /// declarations that change nothing, may cost; 0 never compares.
    std::int64_t comparePayback = 8;
    /// Occurrences looked at, per occurrence, by the replaces of a pattern
    /// that overlaps itself before it checks whether replacing in one copy
    /// of each distinct chain of overlapping occurrences would cost less,
    /// and if so goes on that way (checked again after twice as many, and so
    /// on); 0 goes on that way from the first replace, whatever it costs.
    std::uint64_t groupChainsAfter = 8;
    /// Bytes of the chains that replacing in them may read, at that check,
    /// for each occurrence an average replace has looked at; 0 never lets
    /// it go on that way, unless groupChainsAfter is 0.
    std::uint64_t groupBytesPerLook = 16;
    /// Times the work of replacing occurrence by occurrence, and of four
    /// passes over the chains, that replaying group by group may cost before
    /// it goes back to occurrences; 0 goes back after one replace.
    std::uint64_t groupPayback = 4;
    /// Bits an entry of the lists of the occurrences that cover the bytes
    /// the replay reads takes at least (16, 32 or 64, as its fields need);
    /// raise only to try the wider forms.
    unsigned coverEntryBits = 16;
    /// The replay keeps a time, counted in deferred rewrites, for each byte
    /// it reads, in 1, 2, 4 or 8 bytes: each of the narrower forms holds
    /// times up to its largest number or this many times its width,
    /// whichever is less, before all are widened; lower only to try the
    /// wider forms.
    std::uint64_t narrowTimes = 0xffffffffu;
    /// The replay keeps the times of 2^this bytes it reads together (this
    /// at most 24), each such chunk widened on its own; lower only to try
    /// reads and writes across chunks.
    unsigned timeChunkBits = 16;
    /// Bits of each match's offset kept with the match, the bits above them
    /// once per 2^bits bytes of text (1 to 32); lower only to try the form
    /// that texts over 4 GiB take.
    unsigned offsetLowBits = 32;
    /// Bits of the key under which the replay files spellings (1 to 32): a
    /// bit per byte for spellings of at most this many bytes, else a hash;
    /// lower only to try how it tells apart spellings filed alike.
    unsigned spellingHashBits = 32;
    /// Bytes of a chain of overlapping matches read at once when a pattern
    /// that overlaps itself is replayed (at least 1); lower only to try
    /// chains read in several pieces.
    std::uint64_t readPiece = 4096;
    /// Matches of a pattern are kept in 16 bits each while every 64 in a row
    /// lie less than this many bytes past their first (at most 65,536), else
    /// in 32; lower only to try the wider form with matches close together.
    std::uint32_t narrowSpan = 65536;
    /// Once the source has changed, a key or member written everywhere at
    /// once lets go of its matches that lie wholly in bytes the replay reads
    /// when at least one in this many of them do (0 never): those bytes are
    /// put right by reading them at the end.
    std::uint64_t observedHitShare = 4;
    /// The 64-byte blocks of text in which overlapping matches are paired
    /// up at a time, to find which patterns' writes reach which (at least
    /// 1); lower only to try several such windows.
    std::size_t pairBlocks = std::size_t(1) << 14;
};

/// A writer whose matches may change what a match of a pattern that
/// overlaps itself reads: the writer's match starts offset bytes after the
/// pattern's (patterns numbered in the order the scan first meets them).
struct ScanReach {
    std::uint32_t writer = 0;
    std::uint32_t pattern = 0;
    std::int64_t offset = 0;
    bool operator==(const ScanReach& other) const {
        return writer == other.writer && pattern == other.pattern && offset == other.offset;
    }
};

/// What the scan works out before it replays, for comparing the ways it has
/// of working it out.
struct ScanFindings {
    std::vector<ScanReach> reaches;  ///< sorted by writer, pattern, offset
};

/// Scans tool.sourceText against tool.catalogueList: re-cases every use of
/// every key and, after each object declaration, the uses of that object's
/// members; counts used catalogue lines in tool.addedCount and collects their
/// distinct include blocks in tool.foundBlocks. Module files come from
/// modules. Takes time that grows with the size of the source and of its
/// matches, not with their product, except along one long chain of
/// overlapping matches that replaces keep spelling differently.
void scanText(ToolState& tool, ModuleFiles& modules);
void scanText(ToolState& tool, ModuleFiles& modules, const ScanLimits& limits);
void scanText(ToolState& tool, ModuleFiles& modules, const ScanLimits& limits, ScanFindings& findings);

/// The bytes of text right before the 0-based offset, back to the nearest
/// blank, LF or CR: the object name of a declaration " AS TYPE" at offset.
std::string_view declaredNameAt(std::string_view text, std::size_t offset);

}  // namespace vorrel
