#pragma once

// Failures nobody is told about still leave one plain line on standard output.

#include <QString>

#include <cstdio>

namespace kivo::library {

inline void logLine(const QString& line)
{
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
    std::fputc('\n', stdout);
}

} // namespace kivo::library
