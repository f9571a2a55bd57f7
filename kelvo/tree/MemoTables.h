#pragma once

// The memo build's tables: the records of solved sub-problems, the hash table
// that finds a sub-problem by its region and depth parity, and the key of the
// table that finds it by region and full list. Private to
// SpaceTreeMemoBuild.cpp; everything here is on the build's hot path and stays
// inline.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kelvo/tree/SpaceTreeMemoBuild.h"
#include "velllib/vell_memory.h"

namespace kelvo {

// The record index of no record: a leaf's children, an empty slot.
inline constexpr std::int32_t NO_RECORD = -1;

// 32 bytes. A record's list length is kept in lists_ just before its first
// entry; what the literal build would cost is kept apart, and only when it is
// exact (without bounds).
struct SpaceTreeMemoBuild::Record {
    double depth = 1.0;  // average depth with this node at depth 1
    std::int32_t children[2] = {NO_RECORD, NO_RECORD};
    std::uint32_t listBegin = 0;
    int nodes = 1;
    int elements = 0;
    std::uint32_t splitFace : 24 = 0;
    std::uint32_t axis : 2 = 0;
    // Saturates at 63: it is only compared with EXACT_DEPTH_HEIGHT.
    std::uint32_t height : 6 = 1;
};
// Records in one array whose address space is reserved for what a scene of
// this size may need: pushing never moves a record until that runs out, and
// only the pages written take memory (large arrays in 2 MiB pages, where the
// system offers them: page faults were most of the build's time).
struct SpaceTreeMemoBuild::RecordStore {
    explicit RecordStore(std::size_t expected) { records.reserve(expected); }

    Record& operator[](std::int32_t i) { return records[static_cast<std::size_t>(i)]; }
    const Record& operator[](std::int32_t i) const {
        return records[static_cast<std::size_t>(i)];
    }
    std::int32_t push(const Record& r) {
        records.push_back(r);
        return static_cast<std::int32_t>(records.size() - 1);
    }
    std::size_t count() const { return records.size(); }
    void prefetch(std::int32_t i) const {
        __builtin_prefetch(records.data() + i);
    }

    std::vector<Record, vell::LargeBlockAllocator<Record>> records;
};

// Open addressing over 64-bit keys: six face indices and a depth parity. A
// slot holds the key, the record and the record's cost as a trial child, so
// that a reuse reads one slot and nothing else (the build waits mostly on
// these loads).
struct SpaceTreeMemoBuild::RegionTable {
    struct Slot {
        std::uint64_t key;
        double term;
        std::int32_t record;
        std::uint32_t listBegin;  // the record's, for its twin at the other parity
    };
    // A look-up's answer at the key's own depth parity and at the other one.
    struct Found {
        const Slot* same = nullptr;
        const Slot* twin = nullptr;
    };

    RegionTable(int faceBits, std::size_t capacity)
        : bits(faceBits), slots(capacity, Slot{0, 0.0, NO_RECORD, 0}) {}

    std::uint64_t key(const Region& region, int parity) const {
        std::uint64_t k = 0;
        for (int i = 0; i < 6; ++i) {
            k = (k << bits) | region[i];
        }
        return (k << 1) | static_cast<std::uint64_t>(parity);
    }
    // The key of a trial child: face i of the region moved to face, and the
    // other depth parity.
    std::uint64_t childKey(std::uint64_t parent, int i, std::uint32_t face) const {
        const int shift = 1 + (5 - i) * bits;
        const std::uint64_t field = ((std::uint64_t{1} << bits) - 1) << shift;
        return ((parent & ~field) | (static_cast<std::uint64_t>(face) << shift)) ^ 1;
    }

    // The two depth parities of a region hash alike: one probe finds both.
    static std::uint64_t hash(std::uint64_t key) {
        std::uint64_t h = (key >> 1) * 0x9E3779B97F4A7C15ull;
        h ^= h >> 29;
        h *= 0xBF58476D1CE4E5B9ull;
        h ^= h >> 32;
        return h;
    }

    Found find(std::uint64_t key) const {
        Found found;
        const std::size_t mask = slots.size() - 1;
        for (std::size_t i = static_cast<std::size_t>(hash(key)) & mask;; i = (i + 1) & mask) {
            const Slot& s = slots[i];
            if (s.record == NO_RECORD) {
                return found;
            }
            if (s.key == key) {
                found.same = &s;
                return found;
            }
            if (s.key == (key ^ 1)) {
                found.twin = &s;
            }
        }
    }

    void prefetch(std::uint64_t key) const {
        __builtin_prefetch(&slots[static_cast<std::size_t>(hash(key)) & (slots.size() - 1)]);
    }

    void insert(std::uint64_t key, std::int32_t record, double term, std::uint32_t listBegin) {
        if (2 * (used + 1) > slots.size()) {
            std::vector<Slot, vell::LargeBlockAllocator<Slot>> old(slots.size() * 2,
                                                                  Slot{0, 0.0, NO_RECORD, 0});
            old.swap(slots);
            for (const Slot& s : old) {
                if (s.record != NO_RECORD) {
                    place(s);
                }
            }
        }
        place(Slot{key, term, record, listBegin});
        ++used;
    }

    void place(const Slot& slot) {
        const std::size_t mask = slots.size() - 1;
        std::size_t i = static_cast<std::size_t>(hash(slot.key)) & mask;
        while (slots[i].record != NO_RECORD) {
            i = (i + 1) & mask;
        }
        slots[i] = slot;
    }

    int bits;
    std::vector<Slot, vell::LargeBlockAllocator<Slot>> slots;
    std::size_t used = 0;
};

// The key of the table used when a region alone does not fix its list: the
// region's six face indices and the ordered list, as bytes.
inline std::string fullListKey(const std::uint32_t (&region)[6], const std::uint32_t* list,
                               std::uint32_t length) {
    std::string key(reinterpret_cast<const char*>(region), sizeof(region));
    key.append(reinterpret_cast<const char*>(list), length * sizeof(std::uint32_t));
    return key;
}

}  // namespace kelvo
