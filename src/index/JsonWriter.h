#pragma once

// A minimal streaming JSON writer into one growing string: no tree, no pretty-printing. Commas are
// placed by the writer, so callers only open, write and close.

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kivo::index {

// File names on Linux are bytes, not always UTF-8 ("caf\xE9 120.wav" from an old archive), while JSON
// text must be UTF-8. Every byte of a name that is not part of a valid UTF-8 sequence is written as
// the character U+EF00 + byte (U+EF80 to U+EFFF, private use), and so is every byte of a genuine
// character of that range, so that reading maps each such character back to its one byte and gets
// the name exactly: the escape is reversible and the file stays valid JSON.
inline constexpr char32_t kRawByteBase = 0xEF00;

// Length of the valid UTF-8 sequence at `at` (1 to 4), or 0 when the bytes there are not one.
inline std::size_t utf8SequenceAt(std::string_view text, std::size_t at, char32_t& cp)
{
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char lead = b(0);
    std::size_t length = 0;
    if (lead < 0x80) {
        cp = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        cp = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((b(i) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b(i) & 0x3F);
    }
    const bool overlong = (length == 3 && cp < 0x800) || (length == 4 && cp < 0x10000);
    if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return length;
}

inline void appendRawByteEscape(std::string& out, unsigned char byte)
{
    const char32_t cp = kRawByteBase + byte;
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
}

// The original bytes again from text written with the escape above.
inline std::string restoreRawBytes(std::string_view text)
{
    std::string out;
    std::size_t run = 0;
    for (std::size_t at = text.find('\xEE'); at != std::string_view::npos; at = text.find('\xEE', at)) {
        char32_t cp = 0;
        if (utf8SequenceAt(text, at, cp) == 3 && cp >= kRawByteBase + 0x80 && cp <= kRawByteBase + 0xFF) {
            out.append(text.data() + run, at - run);
            out += static_cast<char>(cp - kRawByteBase);
            at += 3;
            run = at;
        } else {
            ++at;
        }
    }
    if (run == 0)
        return std::string(text);
    out.append(text.data() + run, text.size() - run);
    return out;
}

class JsonWriter {
public:
    using Sink = std::function<void(std::string_view)>;

    explicit JsonWriter(std::size_t reserve = 0) { m_out.reserve(reserve); }
    // Hands the text to `sink` a piece at a time (whenever flush() finds `chunk` bytes or more
    // waiting, and at finish()), so that a large document is never held whole.
    JsonWriter(Sink sink, std::size_t chunk)
        : m_sink(std::move(sink))
        , m_chunk(chunk)
    {
        m_out.reserve(chunk + chunk / 4);
    }

    void flush()
    {
        if (m_sink && m_out.size() >= m_chunk) {
            m_sink(m_out);
            m_out.clear();
        }
    }
    void finish()
    {
        if (m_sink && !m_out.empty()) {
            m_sink(m_out);
            m_out.clear();
        }
    }

    void beginObject() { open('{'); }
    void endObject() { close('}'); }
    void beginArray() { open('['); }
    void endArray() { close(']'); }

    void key(std::string_view name)
    {
        separate();
        writeString(name);
        m_out += ':';
        m_afterKey = true;
    }

    void value(std::string_view text)
    {
        separate();
        writeString(text);
    }
    void value(const char* text) { value(std::string_view(text)); }
    void value(const std::string& text) { value(std::string_view(text)); }

    void value(std::int64_t number) { writeNumber(number); }
    void value(std::uint64_t number) { writeNumber(number); }

    // Finite numbers only; JSON has no form for the others, so they are written as 0.
    void value(double number)
    {
        separate();
        if (!std::isfinite(number))
            number = 0;
        char buffer[32];
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, number).ptr;
        m_out.append(buffer, end);
    }

    std::string& text() { return m_out; }

private:
    template <class T> void writeNumber(T number)
    {
        separate();
        char buffer[24];
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, number).ptr;
        m_out.append(buffer, end);
    }

    void open(char bracket)
    {
        separate();
        m_out += bracket;
        m_first.push_back(true);
    }

    void close(char bracket)
    {
        m_out += bracket;
        m_first.pop_back();
    }

    void separate()
    {
        if (m_afterKey) {
            m_afterKey = false;
            return;
        }
        if (!m_first.empty()) {
            if (!m_first.back())
                m_out += ',';
            m_first.back() = false;
        }
    }

    void writeString(std::string_view text)
    {
        static constexpr char kHex[] = "0123456789abcdef";
        m_out += '"';
        std::size_t run = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const auto c = static_cast<unsigned char>(text[i]);
            if (c >= 0x80) {
                char32_t cp = 0;
                const std::size_t length = utf8SequenceAt(text, i, cp);
                if (length && (cp < kRawByteBase + 0x80 || cp > kRawByteBase + 0xFF)) {
                    i += length - 1;
                    continue;
                }
                m_out.append(text.data() + run, i - run);
                for (std::size_t k = 0; k < std::max<std::size_t>(length, 1); ++k)
                    appendRawByteEscape(m_out, static_cast<unsigned char>(text[i + k]));
                i += std::max<std::size_t>(length, 1) - 1;
                run = i + 1;
                continue;
            }
            if (c >= 0x20 && c != '"' && c != '\\')
                continue;
            m_out.append(text.data() + run, i - run);
            run = i + 1;
            switch (c) {
            case '"':
                m_out += "\\\"";
                break;
            case '\\':
                m_out += "\\\\";
                break;
            case '\n':
                m_out += "\\n";
                break;
            case '\r':
                m_out += "\\r";
                break;
            case '\t':
                m_out += "\\t";
                break;
            default:
                m_out += "\\u00";
                m_out += kHex[c >> 4];
                m_out += kHex[c & 15];
            }
        }
        m_out.append(text.data() + run, text.size() - run);
        m_out += '"';
    }

    Sink m_sink;
    std::size_t m_chunk = 0;
    std::string m_out;
    std::vector<bool> m_first;
    bool m_afterKey = false;
};

} // namespace kivo::index
