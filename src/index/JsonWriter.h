#pragma once

// A minimal streaming JSON writer into one growing string: no tree, no pretty-printing. Commas are
// placed by the writer, so callers only open, write and close.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kivo::index {

class JsonWriter {
public:
    explicit JsonWriter(std::size_t reserve = 0) { m_out.reserve(reserve); }

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

    std::string m_out;
    std::vector<bool> m_first;
    bool m_afterKey = false;
};

} // namespace kivo::index
