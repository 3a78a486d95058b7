#pragma once

// Reads the XML form of a property list, the form a backup takes after a user or another tool
// converted it to text. No recursion and the same limits as the binary reader, so a hostile file
// cannot exhaust the stack or memory.

#include <QByteArray>
#include <QVariant>

#include <optional>

namespace kivo::platform {

// Empty for anything that is not a whole, well-formed XML property list. Dates decode as seconds
// since 2001-01-01 (double), as binary ones do.
std::optional<QVariant> decodeXmlPlist(const QByteArray& bytes);

// Binary or XML, whichever the bytes are.
std::optional<QVariant> decodeAnyPlist(const QByteArray& bytes);

} // namespace kivo::platform
