// SPDX-License-Identifier: GPL-3.0-or-later
#include "show/SoundtrackFile.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <system_error>
#include <vector>

#include "sequence/SequenceFile.h"
#include "sequence/SequenceFileIo.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// A sidecar is a few dozen bytes; anything far larger is not one.
constexpr std::size_t kLongestSidecar = 1 << 20;

constexpr std::array<const char*, 4> kSoundExtensions = {".wav", ".flac", ".ogg", ".mp3"};

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

fs::path absoluteOf(const fs::path& p) {
    std::error_code ec;
    fs::path a = fs::absolute(p, ec);
    return (ec ? p : a).lexically_normal();
}

// The sidecar's bytes; 0, or the system's error number.
int readWhole(const std::string& path, std::string& text) {
    std::vector<uint8_t> buffer(kLongestSidecar + 1);
    std::size_t got = 0;
    if (int err = sequence_file_io::readStart(path, buffer, got)) return err;
    text.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(got));
    return 0;
}

// The same-name sound file of the sequence, if there is one.
std::optional<fs::path> sameNameSound(const fs::path& sequence) {
    const fs::path folder = sequence.parent_path().empty() ? fs::path(".") : sequence.parent_path();
    const std::string stem = sequence.stem().string();
    std::error_code ec;
    std::vector<fs::path> found(kSoundExtensions.size());
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const fs::path& p = entry.path();
        if (p.stem().string() != stem) continue;
        const std::string ext = lower(p.extension().string());
        for (std::size_t i = 0; i < kSoundExtensions.size(); ++i) {
            std::error_code notFile;
            if (ext == kSoundExtensions[i] && found[i].empty() && entry.is_regular_file(notFile)) found[i] = p;
        }
    }
    for (const fs::path& p : found)
        if (!p.empty()) return p;
    return std::nullopt;
}

}  // namespace

std::string displayName(const std::string& path) {
    const std::string name = fs::path(path).filename().string();
    return name.empty() ? path : name;
}

std::string sidecarPathFor(const std::string& sequencePath) {
    return fs::path(sequencePath).replace_extension(kSidecarExtension).string();
}

SoundtrackLookup findSoundtrack(const std::string& sequencePath) {
    SoundtrackLookup result;
    const std::string sidecar = sidecarPathFor(sequencePath);
    const std::string name = displayName(sidecar);
    std::string text;
    const int err = readWhole(sidecar, text);
    if (err == 0) {
        auto invalid = [&](const std::string& why) {
            result.sidecarInvalid = true;
            result.message = name + ": " + why + "; the sequence plays without a soundtrack.";
            return result;
        };
        if (text.size() > kLongestSidecar) return invalid("not a soundtrack file (too long)");
        json doc = json::parse(text, nullptr, false);
        if (doc.is_discarded()) return invalid("not valid JSON");
        if (!doc.is_object()) return invalid("not a JSON object");
        SoundtrackChoice choice;
        if (auto it = doc.find("soundtrack"); it != doc.end() && !it->is_null()) {
            if (!it->is_string() || it->get<std::string>().empty())
                return invalid("\"soundtrack\" is not a file name");
            const fs::path sound = fs::path(it->get<std::string>());
            choice.path = absoluteOf(fs::path(sidecar).parent_path() / sound).string();
        }
        if (auto it = doc.find("offset_ms"); it != doc.end()) {
            if (!it->is_number_integer() ||
                it->get<int64_t>() < -kLongestOffsetMs || it->get<int64_t>() > kLongestOffsetMs)
                return invalid("\"offset_ms\" is not a whole number of milliseconds within an hour");
            choice.offsetMs = static_cast<int>(it->get<int64_t>());
        }
        result.choice = choice;
        result.fromSidecar = true;
        result.sidecarText = text;
        return result;
    }
    if (sequence_file_io::kindOf(err, sidecar) != sequence_file_io::ErrorKind::notFound) {
        result.sidecarInvalid = true;
        result.message = name + ": " + fileErrorMessage(err, sidecar) +
                         " The sequence plays without a soundtrack.";
        return result;
    }
    if (auto sound = sameNameSound(fs::path(sequencePath))) result.choice.path = absoluteOf(*sound).string();
    return result;
}

bool sidecarWanted(const std::string& sequencePath, const SoundtrackChoice& choice) {
    if (!choice.none()) return true;
    std::error_code ec;
    return fs::exists(sidecarPathFor(sequencePath), ec) || sameNameSound(fs::path(sequencePath)).has_value();
}

std::string writeSidecar(const std::string& sequencePath, const SoundtrackChoice& choice,
                         const std::string& keptText) {
    const std::string sidecar = sidecarPathFor(sequencePath);
    json doc = json::object();
    if (!keptText.empty()) {
        json kept = json::parse(keptText, nullptr, false);
        if (kept.is_object()) doc = std::move(kept);
    }
    if (choice.none()) {
        doc["soundtrack"] = nullptr;
    } else {
        // Relative to the sidecar's folder where one path leads to the
        // other (not across Windows drives).
        const fs::path folder = absoluteOf(fs::path(sidecar)).parent_path();
        const fs::path sound = absoluteOf(fs::path(choice.path));
        fs::path relative = sound.lexically_relative(folder);
        if (relative.empty() || sound.root_name() != folder.root_name()) relative = sound;
        doc["soundtrack"] = relative.generic_string();
    }
    doc["offset_ms"] = choice.offsetMs;
    const std::string text = doc.dump(2) + "\n";
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    if (int err = sequence_file_io::replaceWhole(sidecar, bytes))
        return "Could not save the soundtrack in " + displayName(sidecar) + ": " + fileErrorMessage(err, sidecar);
    return {};
}
