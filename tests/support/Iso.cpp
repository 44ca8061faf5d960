#include "tests/support/Iso.h"

extern "C" {
#define LIBISOFS_WITHOUT_LIBBURN
#include <libisofs/libisofs.h>
}

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace spindle_test {

std::vector<std::string> MakeSampleTree(const std::string& root) {
    const FileList files = {
        {"readme.txt", "hello\n"},
        {"Mixed Case Name With Spaces.txt", "spaces"},
        {"a folder/ünïcødé – 名前.txt", "unicode"},
        {"a folder/deeper/still deeper/data.bin", RandomBytes(300001, 7)},
        {"a folder/A very long file name that goes well past the sixty-four characters Joliet "
         "keeps.txt",
         "long"},
        {"empty.dat", ""},
        {"big.bin", RandomBytes(5 * 1024 * 1024 + 123, 3)},
    };
    WriteTree(root, files);
    std::filesystem::create_directories(root + "/empty folder");
    std::vector<std::string> names;
    for (const auto& file : files)
        names.push_back(file.first);
    return names;
}

const char* ToolName(IsoTool t) {
    switch (t) {
    case IsoTool::Genisoimage:
        return "genisoimage";
    case IsoTool::Xorriso:
        return "xorriso";
    case IsoTool::Libisofs:
        return "libisofs";
    }
    return "?";
}

namespace {

// The layout of libisofs's stream object (hidden from C++ by its header,
// where a member is called "class").
struct StreamObject {
    IsoStreamIface* iface;
    int refcount;
    void* data;
};

struct GeneratedStream {
    const GeneratedFile* file;
    std::uint64_t pos;
};

GeneratedStream& Gen(IsoStream* s) {
    return *static_cast<GeneratedStream*>(reinterpret_cast<StreamObject*>(s)->data);
}

IsoStreamIface g_generatedIface = {
    0,
    {'t', 'g', 'e', 'n'},
    [](IsoStream* s) {
        Gen(s).pos = 0;
        return 1;
    },
    [](IsoStream*) { return 1; },
    [](IsoStream* s) { return static_cast<off_t>(Gen(s).file->size); },
    [](IsoStream* s, void* buf, size_t count) {
        GeneratedStream& g = Gen(s);
        std::string bytes = g.file->Bytes(g.pos, count);
        std::memcpy(buf, bytes.data(), bytes.size());
        g.pos += bytes.size();
        return static_cast<int>(bytes.size());
    },
    [](IsoStream*) { return 1; },
    [](IsoStream*, unsigned int* fs, dev_t* dev, ino_t* ino) {
        *fs = 0x7E57;
        *dev = 0;
        *ino = 1;
    },
    [](IsoStream* s) { delete &Gen(s); },
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

bool BuildWithLibisofs(const std::string& srcDir, const std::string& isoPath,
                       const GeneratedFile* generated = nullptr) {
    iso_init();
    iso_set_local_charset(const_cast<char*>("UTF-8"), 0);
    IsoImage* image = nullptr;
    if (iso_image_new("SPINDLE_TEST", &image) < 0)
        return false;
    bool ok = true;
    if (!srcDir.empty())
        ok = iso_tree_add_dir_rec(image, iso_image_get_root(image), srcDir.c_str()) >= 0;
    if (generated) {
        auto* stream = static_cast<IsoStream*>(std::malloc(sizeof(StreamObject)));
        auto* obj = reinterpret_cast<StreamObject*>(stream);
        obj->iface = &g_generatedIface;
        obj->refcount = 1;
        obj->data = new GeneratedStream{generated, 0};
        IsoFile* node = nullptr;
        // The new file takes the stream's reference.
        if (!ok || iso_image_add_new_file(image, iso_image_get_root(image), generated->name.c_str(),
                                          stream, &node) < 0) {
            iso_stream_unref(stream);
            ok = false;
        }
    }
    IsoWriteOpts* opts = nullptr;
    ok = ok && iso_write_opts_new(&opts, 2) >= 0;
    struct burn_source* src = nullptr;
    if (ok) {
        iso_write_opts_set_iso_level(opts, 3);
        iso_write_opts_set_rockridge(opts, 1);
        iso_write_opts_set_joliet(opts, 1);
        iso_write_opts_set_omit_version_numbers(opts, 2);
        ok = iso_image_create_burn_source(image, opts, &src) >= 0;
    }
    if (ok) {
        FILE* out = std::fopen(isoPath.c_str(), "wb");
        ok = out != nullptr;
        off_t total = src->get_size(src), done = 0;
        unsigned char buf[65536];
        static const unsigned char zeros[sizeof buf] = {};
        while (ok && done < total) {
            int want = static_cast<int>(std::min<off_t>(sizeof buf, total - done));
            int n = src->read_xt(src, buf, want);
            if (n <= 0)
                ok = false;
            else if (std::memcmp(buf, zeros, static_cast<size_t>(n)) == 0)
                ok = std::fseek(out, n, SEEK_CUR) == 0; // zeros stay a hole
            else
                ok = std::fwrite(buf, 1, static_cast<size_t>(n), out) == static_cast<size_t>(n);
            done += n > 0 ? n : 0;
        }
        if (out) {
            ok = std::fflush(out) == 0 && ftruncate(fileno(out), total) == 0 && ok;
            ok = (std::fclose(out) == 0) && ok;
        }
        src->free_data(src);
        free(src);
    }
    if (opts)
        iso_write_opts_free(opts);
    iso_image_unref(image);
    return ok;
}

} // namespace

std::string GeneratedFile::Bytes(std::uint64_t off, std::size_t n) const {
    if (off >= size)
        return {};
    n = static_cast<std::size_t>(std::min<std::uint64_t>(n, size - off));
    std::string out(n, '\0');
    for (const auto& [at, data] : marks) {
        std::uint64_t from = std::max(at, off), to = std::min(at + data.size(), off + n);
        if (from < to)
            std::memcpy(out.data() + (from - off), data.data() + (from - at), to - from);
    }
    return out;
}

bool BuildIsoWithGeneratedFile(const GeneratedFile& file, const std::string& iso) {
    return BuildWithLibisofs("", iso, &file);
}

bool MakeIso(const std::string& maker, const std::string& options, const std::string& srcDir,
             const std::string& iso) {
    return Shell(maker + " " + options + " -o " + Q(iso) + " " + Q(srcDir));
}

bool BuildIso(IsoTool tool, const std::string& srcDir, const std::string& iso) {
    switch (tool) {
    case IsoTool::Genisoimage:
        return MakeIso("genisoimage -quiet", "-input-charset utf-8 -R -J -joliet-long", srcDir,
                       iso);
    case IsoTool::Xorriso:
        return MakeIso("xorriso -as mkisofs", "-R -J", srcDir, iso);
    case IsoTool::Libisofs:
        return BuildWithLibisofs(srcDir, iso);
    }
    return false;
}

std::string ImageTree(const std::string& image) {
    return Run("xorriso -indev " + Q(image) + " -find / 2>/dev/null | sort");
}

std::string VolumeId(const std::string& image) {
    std::string d = Run("isoinfo -d -i " + Q(image));
    std::size_t at = d.find("Volume id: ");
    if (at == std::string::npos)
        return "<none>";
    at += 11;
    return d.substr(at, d.find('\n', at) - at);
}

} // namespace spindle_test
