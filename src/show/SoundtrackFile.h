// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where a sequence's soundtrack is kept: beside the sequence file, in a small
// JSON file of the same base name, the sidecar (skull.KDX and skull.kdxshow):
//   {"soundtrack": "songs/skull.mp3", "offset_ms": 0}
// The sound file's path is relative to the sidecar's folder (so a sequence
// moved together with its sound keeps working); "soundtrack": null, or no
// such key, is no soundtrack. offset_ms is where in the track frame 0 begins
// (a negative offset starts the track that long after frame 0). Keys the
// program does not know are kept when it rewrites the file. The sequence
// file itself is never touched.
//
// Without a sidecar, a sound file with the sequence's base name in its
// folder is the soundtrack, at offset 0: skull.wav, .flac, .ogg or .mp3 (in
// that order of preference, any letter case of the extension).

#include <optional>
#include <string>

inline constexpr const char* kSidecarExtension = ".kdxshow";
// The offset's range either way: up to an hour.
inline constexpr int kLongestOffsetMs = 3600000;

struct SoundtrackChoice {
    std::string path;  // absolute (as found), empty: no soundtrack
    int offsetMs = 0;
    bool operator==(const SoundtrackChoice&) const = default;
    bool none() const { return path.empty(); }
};

// The sidecar's name for a sequence file: the extension replaced.
std::string sidecarPathFor(const std::string& sequencePath);

// What Open finds for a sequence file.
struct SoundtrackLookup {
    SoundtrackChoice choice;       // none when nothing was found or the sidecar is not valid
    bool fromSidecar = false;      // a valid sidecar said so (possibly "no soundtrack")
    bool sidecarInvalid = false;   // a sidecar exists but cannot be read or is not valid
    std::string sidecarText;       // the valid sidecar as read, for its unknown keys
    // One message for the user when something is wrong: names the file and
    // the reason ("skull.kdxshow: not valid JSON (line 1, ...)"). Empty when
    // all is well. That the sound file itself exists and decodes is checked
    // when it is decoded, not here.
    std::string message;
};
SoundtrackLookup findSoundtrack(const std::string& sequencePath);

// Writes the sidecar for sequencePath, keeping the unknown keys of
// keptText (a sidecar's text as read; may be empty): a new file beside the
// old one, synced and renamed over it, so that a failure leaves the old one
// as it was. Empty on success, else the message ("Could not save the
// soundtrack in skull.kdxshow: Disk full.").
std::string writeSidecar(const std::string& sequencePath, const SoundtrackChoice& choice,
                         const std::string& keptText);

// Whether Save should write a sidecar for this choice: always with a
// soundtrack, and for "none" only where a sidecar exists or a same-name sound
// file would otherwise be taken at the next Open.
bool sidecarWanted(const std::string& sequencePath, const SoundtrackChoice& choice);

// The file name alone, for messages.
std::string displayName(const std::string& path);
