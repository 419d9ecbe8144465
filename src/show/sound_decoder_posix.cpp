// SPDX-License-Identifier: GPL-3.0-or-later
// Sound files through libsndfile, which reads WAV, FLAC, Ogg Vorbis and MP3
// (and more) behind one call, so that no format has code of its own here.

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "show/DecodedSound.h"

namespace {

constexpr sf_count_t kChunkFrames = 16384;

// What the user is told when libsndfile refuses a file that could be read.
std::string undecodable(SNDFILE* file) {
    return std::string("not a sound file this program decodes (") + sf_strerror(file) + ")";
}

}  // namespace

DecodeResult decodeSoundFile(const std::string& path, const std::atomic<bool>* cancelled) {
    DecodeResult result;
    // The file's own reason first (missing, no access, a folder), as the
    // system says it; libsndfile's own messages say only "cannot open".
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd == -1) {
        result.error = std::strerror(errno);
        return result;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        result.error = "not a file";
        ::close(fd);
        return result;
    }
    // Back to blocking reads: the descriptor is a regular file.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    SF_INFO info{};
    SNDFILE* file = sf_open_fd(fd, SFM_READ, &info, SF_TRUE);
    if (!file) {
        result.error = undecodable(nullptr);
        return result;
    }
    if (info.samplerate <= 0 || info.channels <= 0) {
        sf_close(file);
        result.error = "not a sound file this program decodes (no samples)";
        return result;
    }
    // Samples come as floats and are mixed down to at most two channels.
    sf_command(file, SFC_SET_SCALE_FLOAT_INT_READ, nullptr, SF_TRUE);
    auto sound = std::make_shared<DecodedSound>();
    sound->sampleRate = info.samplerate;
    sound->channels = std::min(info.channels, 2);
    // The length libsndfile gives is an estimate for some formats; it only
    // sizes the buffer.
    if (info.frames > 0 && info.frames < (int64_t{1} << 31))
        sound->samples.reserve(static_cast<size_t>(info.frames) * sound->channels);
    std::vector<float> chunk(static_cast<size_t>(kChunkFrames) * info.channels);
    for (;;) {
        if (cancelled && cancelled->load(std::memory_order_relaxed)) {
            sf_close(file);
            result.error = "cancelled";
            return result;
        }
        const sf_count_t got = sf_readf_float(file, chunk.data(), kChunkFrames);
        if (got <= 0) break;
        for (sf_count_t f = 0; f < got; ++f) {
            const float* in = chunk.data() + f * info.channels;
            // Two or more channels: the even ones to the left, the odd ones
            // to the right, so that nothing is lost.
            float mix[2] = {0, 0};
            for (int c = 0; c < info.channels; ++c) mix[c % sound->channels] += in[c];
            for (int c = 0; c < sound->channels; ++c) {
                const int share = (info.channels - c + sound->channels - 1) / sound->channels;
                const float v = mix[c] / static_cast<float>(share);
                sound->samples.push_back(static_cast<int16_t>(std::lround(std::clamp(v, -1.0f, 1.0f) * 32767.0f)));
            }
        }
    }
    const int err = sf_error(file);
    if (err != SF_ERR_NO_ERROR && sound->samples.empty()) {
        result.error = undecodable(file);
        sf_close(file);
        return result;
    }
    sf_close(file);
    sound->samples.shrink_to_fit();
    result.sound = std::move(sound);
    return result;
}
