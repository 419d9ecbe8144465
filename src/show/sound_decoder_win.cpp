// SPDX-License-Identifier: GPL-3.0-or-later
// The Windows build has no sound decoder (Debian has no libsndfile for
// MinGW): a soundtrack is reported and the show plays silent.

#include "show/DecodedSound.h"

DecodeResult decodeSoundFile(const std::string&, const std::atomic<bool>*) {
    return {nullptr, "this build of the program decodes no sound on Windows"};
}
