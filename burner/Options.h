// The engine's option record: what every field means, the values it takes
// when a caller leaves it at "engine default" (-1 in an int32, 0xFF in a
// byte, an empty text), and the INI store behind SetOptionsFromRegistry /
// SaveOptionsToRegistry.
//
// Field meanings (offsets in engine::EngineOptions):
//   0   VolumeLabel         volume id of a built image; 8-bit text (each byte
//                           one character U+0000..U+00FF), zero-terminated,
//                           at most 127 characters. Empty: no label.
//   128 WriteSpeed          burn speed in kB/s (1x CD = 176, 1x DVD = 1385);
//                           0 or -1: the fastest the recorder offers.
//   132 CloseDisc           1: close (finalise) the disc after writing;
//                           0: leave it appendable. Default 1.
//   133 Simulate            1: run the burn with the laser off. Default 0.
//   134 TempFolder          folder for the engine's temporary files (UTF-16,
//                           zero-terminated); empty: $TMPDIR, else /tmp.
//   654 Verify              1: read the disc back and compare after writing.
//                           Default 0.
//   655 Joliet              1: give built images a Joliet tree (long names
//                           for Windows). Default 1.
//   656 RockRidge           1: give built images Rock Ridge entries (exact
//                           names, modes and times for Unix). Default 1.
//   657 UnderrunProtection  1: let the recorder pause on buffer underrun.
//                           Default 1.
//   660 IsoLevel            ISO 9660 interchange level 1, 2 or 3 of built
//                           images. Default 3, the only level that stores
//                           files of 4 GiB and more.
//   664 Reserved664         kept as stored; no meaning.
//   665 EjectWhenDone       1: open the tray after a burn or erase. Default 0.
//   668 Copies              number of discs a burn writes, 1 to 99. Default 1.
// A byte other than 0, 1 or 0xFF counts as 1; an int32 out of its range
// counts as the default.
#pragma once

#include "engine/Engine.h"
#include "port/Errors.h"

#include <string>

namespace burner {

// The record an engine starts with: every field at "engine default".
engine::EngineOptions DefaultOptions();

// Makes a record safe to keep: both texts end inside their fields.
void TerminateTexts(engine::EngineOptions& o);

// The meaning of a record, every default replaced by its value.
struct ResolvedOptions {
    std::string volumeLabel; // UTF-8
    int writeSpeedKBs = 0;   // 0: fastest
    bool closeDisc = true;
    bool simulate = false;
    std::string tempFolder; // UTF-8, never empty
    bool verify = false;
    bool joliet = true;
    bool rockRidge = true;
    bool underrunProtection = true;
    int isoLevel = 3;
    bool ejectWhenDone = false;
    int copies = 1;
};
ResolvedOptions Resolve(const engine::EngineOptions& o);

// The label field as UTF-8 text (each byte is the character of that code).
std::string LabelText(const engine::EngineOptions& o);

// The INI file of the engine's options: <config folder>/engine-options.ini,
// one section per hive + key ("HKEY_CURRENT_USER\Software\Vendor\").
std::string OptionsFilePath();

// Stores the record in the section; other sections are kept. The file is
// replaced atomically under a lock (port/Profile). A section name the INI
// store cannot hold gives ERROR_INVALID_PARAMETER.
port::ErrorCode SaveOptions(const std::string& file, const std::string& section,
                            const engine::EngineOptions& o);

// Reads the section into the record. A field that is missing or unreadable
// takes its engine default. A missing file or section leaves the record as it
// was and gives ERROR_FILE_NOT_FOUND.
port::ErrorCode LoadOptions(const std::string& file, const std::string& section,
                            engine::EngineOptions& o);

} // namespace burner
