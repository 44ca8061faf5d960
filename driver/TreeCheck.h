// A quick walk over an image's directory trees before libisofs imports them.
// libisofs trusts the records: a folder whose extent is an ancestor's (or
// whose Rock Ridge child link points back up) makes its import loop, and
// folders shared by many parents make the tree explode. This walk reads each
// tree's directory records once, refuses a folder reached twice, and counts
// entries and directory bytes against fixed budgets, so such an image costs
// milliseconds instead of the indexer's whole time limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace driver {

// Reads `len` bytes at `offset` of the image; false when they are not all there.
using ImageReader = std::function<bool(std::uint64_t offset, void* buf, std::size_t len)>;

enum class TreeState : std::uint8_t {
    Absent, // no such descriptor
    Fine,
    Damaged, // a loop, a record out of bounds, or over a budget
};

struct TreeReport {
    TreeState primary = TreeState::Absent; // ISO 9660 (with Rock Ridge relocations)
    TreeState joliet = TreeState::Absent;  // every Joliet descriptor
    TreeState iso1999 = TreeState::Absent; // every enhanced (ISO 9660:1999) descriptor
    // First blocks of the primary tree's file extents whose XA record marks
    // them Mode 2 Form 2 (their sectors hold 2324 user bytes, not 2048).
    std::vector<std::uint32_t> form2Extents;
};

struct TreeBudget {
    // Directory entries over all trees (each file counts once per tree). A
    // DVD full of small files holds a few hundred thousand.
    std::uint64_t entries = std::uint64_t{1} << 22;
    // Directory bytes read over all trees.
    std::uint64_t dirBytes = std::uint64_t{512} << 20;
};

// `start`: the block where the volume begins (its descriptors from start +
// 16 on); addresses in the records are counted from block 0 as usual.
TreeReport CheckTrees(const ImageReader& read, std::uint64_t imageSize, TreeBudget budget = {},
                      std::uint32_t start = 0);

} // namespace driver
