// The disc image readers on any descriptor: written into a folder of its
// own beside data files of a few sectors (so that names in it can resolve),
// then read through ReadDisc. A read that succeeds must give tracks whose
// sectors lie in their files; one that fails must say why.
#pragma once

#include "vdrive/DiscImage.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

inline std::string FuzzFolder() {
    static const std::string dir = [] {
        char pattern[] = "/tmp/spindle-fuzz-XXXXXX";
        std::string made = mkdtemp(pattern) ? pattern : "/tmp";
        // Data files a descriptor may name: whole sectors of every size.
        std::ofstream(made + "/a.bin") << std::string(2352 * 4, '\1');
        std::ofstream(made + "/b.bin") << std::string(2048 * 3, '\2');
        std::ofstream(made + "/disc.img") << std::string(2352 * 8, '\3');
        std::ofstream(made + "/disc.mdf") << std::string(2448 * 4, '\4');
        return made;
    }();
    return dir;
}

inline void FuzzDescriptor(const std::uint8_t* data, std::size_t size, const std::string& name) {
    const std::string path = FuzzFolder() + "/" + name;
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    vdrive::Disc disc;
    vdrive::DiscFault fault;
    if (!vdrive::ReadDisc(path, disc, fault)) {
        if (fault.code == 0 || !disc.tracks.empty())
            __builtin_trap(); // a refusal names its cause and leaves no tracks
        return;
    }
    const bool plain = disc.tracks.size() == 1 && disc.tracks[0].file == path &&
                       disc.tracks[0].offset == 0 && disc.tracks[0].stride == 2048;
    for (const vdrive::DiscTrack& t : disc.tracks) {
        if (plain)
            break; // any file that is none of the formats: its size decides nothing here
        struct stat st;
        if (t.sectors == 0 || ::stat(t.file.c_str(), &st) != 0 ||
            vdrive::UserDataOffset(t, t.sectors - 1) + (t.stride < 2048 ? t.stride : 2048) >
                static_cast<std::uint64_t>(st.st_size))
            __builtin_trap(); // a track's last sector lies past its file
    }
}
