#pragma once

// Binary property lists to and from QVariants of the store's value types (bool, qint64,
// double, QString, QByteArray, QVariantList, QVariantMap). libplist has no signed integer
// type, so integers travel as their 64-bit two's-complement pattern.

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <optional>

namespace kivo::platform {

// True when `value` is one of the store's types (nested lists and maps included). Integer
// types of any width count; they are normalised to qint64 by normalizePlistValue.
bool isPlistValue(const QVariant& value);
QVariant normalizePlistValue(const QVariant& value);

// Empty when a value cannot be encoded (an unsupported type somewhere inside).
std::optional<QByteArray> encodeBinaryPlist(const QVariant& root);
// Empty for bytes that are not a binary property list. Dates and UIDs, which this program
// never writes, decode as their nearest value (seconds as double, the number as qint64).
std::optional<QVariant> decodeBinaryPlist(const QByteArray& bytes);

} // namespace kivo::platform
