// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/RecoveryCopy.h"

#include <chrono>
#include <cstring>
#include <ctime>

#include "sequence/SequenceFile.h"

namespace {

constexpr char kMarker[8] = {'K', 'D', 'X', 'R', 'E', 'C', 'O', 'V'};
// A copy longer than this is no copy: a file name of a few kilobytes at most
// beside the fixed parts.
constexpr std::size_t kLongestBody = 1 << 20;

uint32_t crc32(std::span<const uint8_t> bytes) {
    static const auto table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    uint32_t c = 0xFFFFFFFFu;
    for (uint8_t b : bytes) c = table[(c ^ b) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

class Writer {
public:
    explicit Writer(std::vector<uint8_t>& out) : out_(out) {}
    void u32(uint32_t v) {
        for (int k = 0; k < 4; ++k) out_.push_back(static_cast<uint8_t>(v >> (8 * k)));
    }
    void i32(int32_t v) { u32(static_cast<uint32_t>(v)); }
    void i64(int64_t v) {
        u32(static_cast<uint32_t>(static_cast<uint64_t>(v)));
        u32(static_cast<uint32_t>(static_cast<uint64_t>(v) >> 32));
    }
    void bytes(std::span<const uint8_t> b) { out_.insert(out_.end(), b.begin(), b.end()); }

private:
    std::vector<uint8_t>& out_;
};

// Reads in order; once anything is missing, every later read fails too.
class Reader {
public:
    explicit Reader(std::span<const uint8_t> in) : in_(in) {}
    bool ok() const { return ok_; }
    bool atEnd() const { return at_ == in_.size(); }
    uint32_t u32() {
        std::span<const uint8_t> b = take(4);
        if (b.empty()) return 0;
        return uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
    }
    int32_t i32() { return static_cast<int32_t>(u32()); }
    int64_t i64() {
        uint64_t low = u32();
        uint64_t high = u32();
        return static_cast<int64_t>(low | high << 32);
    }
    std::span<const uint8_t> take(std::size_t n) {
        if (!ok_ || in_.size() - at_ < n) {
            ok_ = false;
            return {};
        }
        at_ += n;
        return in_.subspan(at_ - n, n);
    }

private:
    std::span<const uint8_t> in_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

}  // namespace

std::vector<uint8_t> encodeRecoveryCopy(const RecoveryCopy& copy) {
    std::vector<uint8_t> body;
    body.reserve(copy.sequence.image().size() + copy.fileName.size() + 1024);
    Writer w(body);
    w.i64(copy.savedAt);
    w.i32(copy.currentFrame);
    w.i32(copy.lastFrame);
    for (const StripValues& s : copy.strips) {
        w.i32(s.position);
        w.i32(s.rate);
        w.i32(s.offset);
        w.i32(s.pause);
        w.u32(s.changedMark ? 1 : 0);
    }
    w.u32(static_cast<uint32_t>(copy.fileName.size()));
    w.bytes({reinterpret_cast<const uint8_t*>(copy.fileName.data()), copy.fileName.size()});
    w.bytes(copy.sequence.image());

    std::vector<uint8_t> out;
    Writer h(out);
    h.bytes({reinterpret_cast<const uint8_t*>(kMarker), sizeof kMarker});
    h.u32(kRecoveryFormatVersion);
    h.u32(static_cast<uint32_t>(body.size()));
    h.u32(crc32(body));
    h.bytes(body);
    return out;
}

std::optional<RecoveryCopy> decodeRecoveryCopy(std::span<const uint8_t> bytes) {
    Reader header(bytes);
    std::span<const uint8_t> marker = header.take(sizeof kMarker);
    const uint32_t version = header.u32();
    const uint32_t length = header.u32();
    const uint32_t checksum = header.u32();
    if (!header.ok() || std::memcmp(marker.data(), kMarker, sizeof kMarker) != 0) return std::nullopt;
    if (version != kRecoveryFormatVersion || length > kLongestBody) return std::nullopt;
    std::span<const uint8_t> body = header.take(length);
    if (!header.ok() || crc32(body) != checksum) return std::nullopt;

    Reader r(body);
    RecoveryCopy copy;
    copy.savedAt = r.i64();
    copy.currentFrame = r.i32();
    copy.lastFrame = r.i32();
    for (StripValues& s : copy.strips) {
        s.position = r.i32();
        s.rate = r.i32();
        s.offset = r.i32();
        s.pause = r.i32();
        s.changedMark = r.u32() != 0;
    }
    std::span<const uint8_t> name = r.take(r.u32());
    copy.fileName.assign(name.begin(), name.end());
    std::span<const uint8_t> image = r.take(copy.sequence.image().size());
    if (!r.ok() || !r.atEnd()) return std::nullopt;
    if (!Sequence::validFrame(copy.currentFrame) || !Sequence::validFrame(copy.lastFrame)) return std::nullopt;
    std::memcpy(copy.sequence.image().data(), image.data(), image.size());
    return copy;
}

int64_t recoveryTimeNow() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

std::string recoveryQuestion(const RecoveryCopy& copy) {
    const std::string name = sequenceDisplayName(copy.fileName);

    // Called on the window's thread only: localtime's shared result is safe.
    const std::time_t when = static_cast<std::time_t>(copy.savedAt);
    char date[32] = "an unknown time";
    if (const std::tm* local = std::localtime(&when)) std::strftime(date, sizeof date, "%Y-%m-%d %H:%M", local);
    return "Recover the unsaved sequence " + name + " from " + date + "?";
}
