#include "WavWriter.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace kivo::playback {

namespace {
void put16(std::string& b, uint16_t v)
{
    b.push_back(char(v & 0xFF));
    b.push_back(char(v >> 8));
}
void put32(std::string& b, uint32_t v)
{
    put16(b, uint16_t(v & 0xFFFF));
    put16(b, uint16_t(v >> 16));
}
} // namespace

std::string writeWav16(
    const std::string& path, const std::vector<float>& interleaved, int channels, int sampleRate)
{
    if (channels < 1 || sampleRate < 1)
        return "invalid audio format";
    const uint32_t dataBytes = uint32_t(interleaved.size() * 2);
    std::string bytes;
    bytes.reserve(44 + dataBytes);
    bytes += "RIFF";
    put32(bytes, 36 + dataBytes);
    bytes += "WAVEfmt ";
    put32(bytes, 16);
    put16(bytes, 1);
    put16(bytes, uint16_t(channels));
    put32(bytes, uint32_t(sampleRate));
    put32(bytes, uint32_t(sampleRate * channels * 2));
    put16(bytes, uint16_t(channels * 2));
    put16(bytes, 16);
    bytes += "data";
    put32(bytes, dataBytes);
    for (float s : interleaved) {
        float clamped = std::clamp(std::isfinite(s) ? s : 0.0f, -1.0f, 1.0f);
        put16(bytes, uint16_t(int16_t(std::lround(clamped * 32767.0f))));
    }

    std::string temp = path + ".part";
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f)
        return std::string("cannot write ") + temp + ": " + std::strerror(errno);
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fclose(f) == 0 && ok;
    std::error_code ec;
    if (ok)
        std::filesystem::rename(temp, path, ec);
    if (!ok || ec) {
        std::filesystem::remove(temp, ec);
        return "cannot write " + path;
    }
    return {};
}

} // namespace kivo::playback
