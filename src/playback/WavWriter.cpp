#include "WavWriter.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>

namespace kivo::playback {

namespace {

constexpr long kDataSizeAt = 40;
constexpr long kRiffSizeAt = 4;
// A RIFF size field is 32 bits; what follows the header must fit in it.
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - 36;

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

WavWriter::~WavWriter()
{
    if (m_file) {
        std::fclose(m_file);
        std::error_code ec;
        std::filesystem::remove(m_temp, ec);
    }
}

std::string WavWriter::fail(const std::string& what)
{
    const std::string message = what + " " + m_path + (errno ? std::string(": ") + std::strerror(errno) : "");
    if (m_file) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    std::error_code ec;
    std::filesystem::remove(m_temp, ec);
    return message;
}

std::string WavWriter::open(const std::string& path, int channels, int sampleRate)
{
    if (channels < 1 || sampleRate < 1)
        return "invalid audio format";
    m_path = path;
    m_temp = path + ".part";
    m_channels = channels;
    m_frames = 0;
    errno = 0;
    m_file = std::fopen(m_temp.c_str(), "wb");
    if (!m_file)
        return std::string("cannot write ") + m_temp + ": " + std::strerror(errno);
    std::string header;
    header += "RIFF";
    put32(header, 36); // sizes are written when the file is finished
    header += "WAVEfmt ";
    put32(header, 16);
    put16(header, 1);
    put16(header, uint16_t(channels));
    put32(header, uint32_t(sampleRate));
    put32(header, uint32_t(sampleRate * channels * 2));
    put16(header, uint16_t(channels * 2));
    put16(header, 16);
    header += "data";
    put32(header, 0);
    if (std::fwrite(header.data(), 1, header.size(), m_file) != header.size())
        return fail("cannot write");
    return {};
}

std::string WavWriter::append(const float* interleaved, int64_t frames)
{
    if (!m_file)
        return "cannot write " + m_path + ": not open";
    if (frames <= 0)
        return {};
    const uint64_t samples = uint64_t(frames) * uint64_t(m_channels);
    if ((uint64_t(m_frames) * uint64_t(m_channels) + samples) * 2 > kMaxDataBytes) {
        errno = 0;
        return fail("too long for a WAV file:");
    }
    m_buffer.clear();
    m_buffer.reserve(samples * 2);
    for (uint64_t i = 0; i < samples; ++i) {
        const float s = interleaved[i];
        const float clamped = std::clamp(std::isfinite(s) ? s : 0.0f, -1.0f, 1.0f);
        put16(m_buffer, uint16_t(int16_t(std::lround(clamped * 32767.0f))));
    }
    errno = 0;
    if (std::fwrite(m_buffer.data(), 1, m_buffer.size(), m_file) != m_buffer.size())
        return fail("cannot write");
    m_frames += frames;
    return {};
}

std::string WavWriter::finish()
{
    if (!m_file)
        return "cannot write " + m_path + ": not open";
    const uint32_t dataBytes = uint32_t(uint64_t(m_frames) * uint64_t(m_channels) * 2);
    std::string size;
    put32(size, 36 + dataBytes);
    errno = 0;
    bool ok = std::fseek(m_file, kRiffSizeAt, SEEK_SET) == 0 && std::fwrite(size.data(), 1, 4, m_file) == 4;
    size.clear();
    put32(size, dataBytes);
    ok = ok && std::fseek(m_file, kDataSizeAt, SEEK_SET) == 0 && std::fwrite(size.data(), 1, 4, m_file) == 4;
    ok = std::fflush(m_file) == 0 && ok;
    const bool closed = std::fclose(m_file) == 0;
    m_file = nullptr;
    std::error_code ec;
    if (ok && closed)
        std::filesystem::rename(m_temp, m_path, ec);
    if (!ok || !closed || ec) {
        std::filesystem::remove(m_temp, ec);
        return "cannot write " + m_path;
    }
    return {};
}

} // namespace kivo::playback
