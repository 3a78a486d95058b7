#pragma once

// Encodes the store's value types (see PropertyList.h) as a binary property list. libplist's own
// encoder looks every object up in a table of fixed size, which makes a write of one array of
// 100,000 paths take about a second; the preference file is written after every change.

#include <QByteArray>
#include <QVariant>

#include <optional>

namespace kivo::platform {

// Empty when a value cannot be encoded (an unsupported type, or nesting deeper than the reader
// accepts).
std::optional<QByteArray> writeBinaryPlist(const QVariant& root);

// Integer types of any width, all stored as 64-bit integers.
bool isPlistInteger(int typeId);

} // namespace kivo::platform
