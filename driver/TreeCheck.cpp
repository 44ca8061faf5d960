#include "driver/TreeCheck.h"
#include "port/IsoDescriptor.h"

#include <cstring>
#include <unordered_set>
#include <utility>
#include <vector>

namespace driver {

namespace {

constexpr std::uint64_t kBlock = 2048;
constexpr std::uint64_t kFirstDescriptor = port::iso::kPrimarySector;
// Volume descriptors read before giving up on a terminator.
constexpr unsigned kMaxDescriptors = 64;
// Continuation areas followed per record, and the most bytes each may hold.
constexpr unsigned kMaxContinuations = 16;
constexpr std::uint32_t kMaxContinuationBytes = 64 << 10;

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// What a record's Rock Ridge entries say about the tree's shape.
struct RockRidgeLinks {
    bool relocated = false;      // RE: shown where its child link points from
    std::uint32_t childLink = 0; // CL: the folder this record stands for
    bool hasChildLink = false;
};

class Walker {
public:
    Walker(const ImageReader& read, std::uint64_t imageSize, TreeBudget& budget)
        : m_read(read), m_imageSize(imageSize), m_budget(budget) {}

    // Walks the tree under a descriptor's root record (34 bytes); with
    // `form2`, collects the extents its XA records mark Form 2 there.
    TreeState Walk(const std::uint8_t* root, bool rockRidge,
                   std::vector<std::uint32_t>* form2 = nullptr) {
        m_form2 = form2;
        if (root[0] < 34)
            return TreeState::Damaged;
        if (!Push(Le32(root + 2), Le32(root + 10)))
            return TreeState::Damaged;
        m_rockRidgeAllowed = rockRidge;
        bool first = true;
        while (!m_pending.empty()) {
            auto [lba, size] = m_pending.back();
            m_pending.pop_back();
            if (!WalkDir(lba, size, first))
                return TreeState::Damaged;
            first = false;
        }
        return TreeState::Fine;
    }

private:
    // A folder to walk; false when it was reached before (a loop or a shared
    // folder) or lies outside the image.
    bool Push(std::uint32_t lba, std::uint32_t size) {
        if (lba * kBlock > m_imageSize || size > m_imageSize - lba * kBlock)
            return false;
        if (!m_seen.insert(lba).second)
            return false;
        m_pending.emplace_back(lba, size);
        return true;
    }

    bool WalkDir(std::uint32_t lba, std::uint32_t size, bool isRoot) {
        if (size > m_budget.dirBytes)
            return false;
        m_budget.dirBytes -= size;
        m_buf.resize(size);
        if (size > 0 && !m_read(lba * kBlock, m_buf.data(), size))
            return false;
        std::size_t pos = 0;
        bool firstRecord = true;
        while (pos < size) {
            const std::uint8_t* rec = m_buf.data() + pos;
            std::size_t len = rec[0];
            if (len == 0) { // the rest of this block is padding
                pos = (pos / kBlock + 1) * kBlock;
                continue;
            }
            const std::size_t nameLen = rec[32];
            if (len < 34 || 33 + nameLen > len || pos + len > size || pos % kBlock + len > kBlock)
                return false;
            const std::size_t suStart = 33 + nameLen + (nameLen % 2 == 0 ? 1 : 0);
            const bool self = nameLen == 1 && (rec[33] == 0 || rec[33] == 1);
            if (self) {
                if (isRoot && firstRecord && m_rockRidgeAllowed)
                    FindSharingProtocol(rec, len, suStart);
            } else if (!Entry(rec, len, suStart)) {
                return false;
            }
            firstRecord = false;
            pos += len;
        }
        return true;
    }

    bool Entry(const std::uint8_t* rec, std::size_t len, std::size_t suStart) {
        if (m_budget.entries == 0)
            return false;
        --m_budget.entries;
        RockRidgeLinks links;
        if (m_rockRidge && !ReadRockRidge(rec, len, suStart, links))
            return false;
        const bool dir = (rec[25] & 0x02) != 0;
        if (!dir && m_form2 && IsForm2(rec, len, suStart))
            m_form2->push_back(Le32(rec + 2));
        if (dir)
            return links.relocated || Push(Le32(rec + 2), Le32(rec + 10));
        if (!links.hasChildLink)
            return true;
        // The relocated folder's size is in its own "." record.
        std::uint8_t self[34];
        if (!m_read(std::uint64_t{links.childLink} * kBlock, self, sizeof self) || self[0] < 34)
            return false;
        return Push(links.childLink, Le32(self + 10));
    }

    // The 14-byte XA record that opens the system use area (CD-ROM XA):
    // group and user id, attributes (big-endian; 0x1000 Mode 2 Form 2),
    // "XA", file number, five reserved bytes.
    static bool IsForm2(const std::uint8_t* rec, std::size_t len, std::size_t suStart) {
        return suStart + 14 <= len && rec[suStart + 6] == 'X' && rec[suStart + 7] == 'A' &&
               (rec[suStart + 4] & 0x10) != 0;
    }

    // "SP" in the root's "." record turns Rock Ridge on and gives the bytes
    // to skip at the start of every system use area.
    void FindSharingProtocol(const std::uint8_t* rec, std::size_t len, std::size_t suStart) {
        if (suStart + 7 <= len && rec[suStart] == 'S' && rec[suStart + 1] == 'P' &&
            rec[suStart + 2] >= 7 && rec[suStart + 4] == 0xBE && rec[suStart + 5] == 0xEF) {
            m_rockRidge = true;
            m_skip = rec[suStart + 6];
        }
    }

    bool ReadRockRidge(const std::uint8_t* rec, std::size_t len, std::size_t suStart,
                       RockRidgeLinks& links) {
        std::size_t start = suStart + m_skip;
        if (start >= len)
            return true;
        std::vector<std::uint8_t> area(rec + start, rec + len);
        for (unsigned hops = 0;; ++hops) {
            std::uint32_t ceBlock = 0, ceOffset = 0, ceLength = 0;
            bool more = false;
            for (std::size_t p = 0; p + 4 <= area.size();) {
                const std::uint8_t* e = area.data() + p;
                std::size_t elen = e[2];
                if (elen < 4 || p + elen > area.size())
                    break;
                if (e[0] == 'S' && e[1] == 'T')
                    break;
                if (e[0] == 'C' && e[1] == 'E' && elen >= 28) {
                    ceBlock = Le32(e + 4);
                    ceOffset = Le32(e + 12);
                    ceLength = Le32(e + 20);
                    more = true;
                } else if (e[0] == 'C' && e[1] == 'L' && elen >= 12) {
                    links.childLink = Le32(e + 4);
                    links.hasChildLink = true;
                } else if (e[0] == 'R' && e[1] == 'E') {
                    links.relocated = true;
                }
                p += elen;
            }
            if (!more)
                return true;
            if (hops >= kMaxContinuations || ceLength > kMaxContinuationBytes)
                return false;
            area.resize(ceLength);
            if (!m_read(std::uint64_t{ceBlock} * kBlock + ceOffset, area.data(), ceLength))
                return false;
        }
    }

    const ImageReader& m_read;
    std::uint64_t m_imageSize;
    TreeBudget& m_budget;
    bool m_rockRidgeAllowed = false;
    bool m_rockRidge = false;
    unsigned m_skip = 0;
    std::vector<std::uint32_t>* m_form2 = nullptr;
    std::unordered_set<std::uint32_t> m_seen;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> m_pending;
    std::vector<std::uint8_t> m_buf;
};

// The worse of two states of trees of one kind.
TreeState Worse(TreeState a, TreeState b) {
    return static_cast<std::uint8_t>(a) > static_cast<std::uint8_t>(b) ? a : b;
}

} // namespace

TreeReport CheckTrees(const ImageReader& read, std::uint64_t imageSize, TreeBudget budget,
                      std::uint32_t start) {
    TreeReport report;
    std::uint8_t d[kBlock];
    for (unsigned i = 0; i < kMaxDescriptors; ++i) {
        if (!read((start + kFirstDescriptor + i) * kBlock, d, sizeof d) ||
            !port::iso::HasStandardId(d) || d[0] == port::iso::kTypeTerminator)
            break;
        const std::uint8_t* root = d + port::iso::kRootRecordOffset;
        if (d[0] == port::iso::kTypePrimary && report.primary == TreeState::Absent) {
            report.primary = Walker(read, imageSize, budget).Walk(root, true, &report.form2Extents);
        } else if (port::iso::IsEnhanced(d)) {
            report.iso1999 =
                Worse(report.iso1999, Walker(read, imageSize, budget).Walk(root, false));
        } else if (port::iso::IsJoliet(d)) {
            report.joliet = Worse(report.joliet, Walker(read, imageSize, budget).Walk(root, false));
        }
    }
    return report;
}

} // namespace driver
