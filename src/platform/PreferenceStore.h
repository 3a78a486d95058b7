#pragma once

// The per-user key-value store every manager persists through: one binary property list,
// rewritten atomically after a change. Writes made within one event-loop turn are coalesced
// into one file write. A damaged file is set aside (renamed with a timestamp) and the store
// starts empty; a failed write is logged and the values in memory stay.
//
// Values are QVariants of exactly these types: bool, qint64 (any integer type is stored as
// qint64), double, QString, QByteArray, QVariantList and QVariantMap (nested freely).
// Main thread only.

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <optional>

namespace kivo::platform {

class PreferenceStore : public QObject {
    Q_OBJECT
public:
    // Reads `filePath` now (a missing file is an empty store).
    explicit PreferenceStore(QString filePath, QObject* parent = nullptr);
    ~PreferenceStore() override; // flushes

    // The user's store: $XDG_CONFIG_HOME/KIVO Browser/Preferences.plist.
    static QString defaultFilePath();
    QString filePath() const;

    bool contains(const QString& key) const;
    std::optional<QVariant> value(const QString& key) const;
    // Absent when the key is missing or holds a value of another type.
    std::optional<bool> boolValue(const QString& key) const;
    std::optional<qint64> intValue(const QString& key) const;
    std::optional<double> realValue(const QString& key) const; // an integer value reads as real too
    std::optional<QString> stringValue(const QString& key) const;
    std::optional<QByteArray> dataValue(const QString& key) const;
    std::optional<QVariantList> arrayValue(const QString& key) const;
    std::optional<QVariantMap> dictValue(const QString& key) const;

    // Unsupported value types are refused with a log line (false).
    bool setValue(const QString& key, const QVariant& value);
    void remove(const QString& key);
    QStringList keys() const;
    // Every key and value at once (workspace files store and apply whole sets of keys).
    QVariantMap snapshot() const;

    // Writes pending changes now; false when the write failed.
    bool flush();
    // The path a damaged file was moved to when this store opened, empty when none was.
    QString setAsidePath() const;
    // Copies the value of `key` into a file of its own beside the store's file, for a value that
    // could not be read and is about to be replaced: data as its bytes, anything else as a binary
    // property list. Returns that file's path, empty when there is no such key or the write failed.
    QString setAsideValue(const QString& key);

signals:
    void valueChanged(const QString& key);

private:
    void scheduleWrite();
    bool writeNow();

    QString m_filePath;
    QVariantMap m_values;
    QString m_setAside;
    bool m_dirty = false;
    bool m_writeScheduled = false;
    // Set when the file on disk could not be read or set aside: it is never written over.
    bool m_readOnly = false;
};

} // namespace kivo::platform
