#include "platform/PreferenceStore.h"

#include "platform/BinaryPlistCheck.h"
#include "platform/MainThread.h"
#include "platform/PropertyList.h"
#include "platform/StaleTemporaries.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaType>
#include <QSaveFile>
#include <QTimer>

#include <cstdio>

namespace kivo::platform {

namespace {

void logLine(const QString& line)
{
    std::fprintf(stdout, "%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

QString configHome()
{
    const QByteArray env = qgetenv("XDG_CONFIG_HOME");
    if (!env.isEmpty() && QDir::isAbsolutePath(QString::fromLocal8Bit(env)))
        return QString::fromLocal8Bit(env);
    return QDir::homePath() + QStringLiteral("/.config");
}

} // namespace

PreferenceStore::PreferenceStore(QString filePath, QObject* parent)
    : QObject(parent)
    , m_filePath(std::move(filePath))
{
    removeStaleTemporaries(QFile::encodeName(m_filePath).toStdString());
    QFile file(m_filePath);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        // Unreadable is not damaged: leave it where it is, and do not write over it later
        // either, since its contents may be perfectly good.
        logLine(QStringLiteral("Error reading preferences: ") + file.errorString());
        m_readOnly = true;
        return;
    }
    // Far bigger than any real preference file: not read, and set aside as damaged below.
    const QByteArray bytes = file.size() > qint64(kMaxPlistBytes) ? QByteArray() : file.readAll();
    file.close();
    std::optional<QVariant> root = decodeBinaryPlist(bytes);
    if (root && root->typeId() == QMetaType::QVariantMap) {
        m_values = root->toMap();
        return;
    }
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = m_filePath + QStringLiteral(".damaged-") + stamp;
    for (int n = 2; QFile::exists(aside); ++n)
        aside = m_filePath + QStringLiteral(".damaged-") + stamp + QStringLiteral("-") + QString::number(n);
    if (QFile::rename(m_filePath, aside)) {
        m_setAside = aside;
        logLine(QStringLiteral("Damaged preferences set aside: ") + aside);
    } else {
        logLine(QStringLiteral("Error setting aside damaged preferences: ") + m_filePath);
        m_readOnly = true;
    }
}

PreferenceStore::~PreferenceStore()
{
    if (m_dirty)
        writeNow();
}

QString PreferenceStore::defaultFilePath()
{
    return configHome() + QStringLiteral("/KIVO Browser/Preferences.plist");
}

QString PreferenceStore::filePath() const
{
    return m_filePath;
}

bool PreferenceStore::contains(const QString& key) const
{
    return m_values.contains(key);
}

std::optional<QVariant> PreferenceStore::value(const QString& key) const
{
    KIVO_MAIN_THREAD();
    auto it = m_values.constFind(key);
    if (it == m_values.cend())
        return std::nullopt;
    return *it;
}

std::optional<bool> PreferenceStore::boolValue(const QString& key) const
{
    KIVO_MAIN_THREAD();
    auto it = m_values.constFind(key);
    if (it == m_values.cend() || it->typeId() != QMetaType::Bool)
        return std::nullopt;
    return it->toBool();
}

std::optional<qint64> PreferenceStore::intValue(const QString& key) const
{
    KIVO_MAIN_THREAD();
    auto it = m_values.constFind(key);
    if (it == m_values.cend() || it->typeId() != QMetaType::LongLong)
        return std::nullopt;
    return it->toLongLong();
}

std::optional<double> PreferenceStore::realValue(const QString& key) const
{
    KIVO_MAIN_THREAD();
    auto it = m_values.constFind(key);
    if (it == m_values.cend())
        return std::nullopt;
    if (it->typeId() == QMetaType::Double)
        return it->toDouble();
    if (it->typeId() == QMetaType::LongLong)
        return double(it->toLongLong());
    return std::nullopt;
}

std::optional<QString> PreferenceStore::stringValue(const QString& key) const
{
    KIVO_MAIN_THREAD();
    auto it = m_values.constFind(key);
    if (it == m_values.cend() || it->typeId() != QMetaType::QString)
        return std::nullopt;
    return it->toString();
}

std::optional<QByteArray> PreferenceStore::dataValue(const QString& key) const
{
    KIVO_MAIN_THREAD();
    auto it = m_values.constFind(key);
    if (it == m_values.cend() || it->typeId() != QMetaType::QByteArray)
        return std::nullopt;
    return it->toByteArray();
}

std::optional<QVariantList> PreferenceStore::arrayValue(const QString& key) const
{
    KIVO_MAIN_THREAD();
    auto it = m_values.constFind(key);
    if (it == m_values.cend() || it->typeId() != QMetaType::QVariantList)
        return std::nullopt;
    return it->toList();
}

std::optional<QVariantMap> PreferenceStore::dictValue(const QString& key) const
{
    KIVO_MAIN_THREAD();
    auto it = m_values.constFind(key);
    if (it == m_values.cend() || it->typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    return it->toMap();
}

bool PreferenceStore::setValue(const QString& key, const QVariant& value)
{
    KIVO_MAIN_THREAD();
    if (!isPlistValue(value)) {
        logLine(QStringLiteral("Error storing preference ") + key
            + QStringLiteral(": unsupported value type ")
            + QString::fromLatin1(value.typeName() ? value.typeName() : "null"));
        return false;
    }
    m_values.insert(key, normalizePlistValue(value));
    scheduleWrite();
    emit valueChanged(key);
    return true;
}

void PreferenceStore::remove(const QString& key)
{
    KIVO_MAIN_THREAD();
    if (m_values.remove(key) == 0)
        return;
    scheduleWrite();
    emit valueChanged(key);
}

QStringList PreferenceStore::keys() const
{
    return m_values.keys();
}

QVariantMap PreferenceStore::snapshot() const
{
    return m_values;
}

bool PreferenceStore::flush()
{
    KIVO_MAIN_THREAD();
    if (!m_dirty)
        return true;
    return writeNow();
}

QString PreferenceStore::setAsidePath() const
{
    return m_setAside;
}

QString PreferenceStore::setAsideValue(const QString& key)
{
    auto it = m_values.constFind(key);
    if (it == m_values.cend())
        return {};
    std::optional<QByteArray> bytes
        = it->typeId() == QMetaType::QByteArray ? std::optional(it->toByteArray()) : encodeBinaryPlist(*it);
    if (!bytes)
        return {};
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString stem = m_filePath + QStringLiteral(".") + key + QStringLiteral(".damaged-") + stamp;
    QString aside = stem;
    for (int n = 2; QFile::exists(aside); ++n)
        aside = stem + QStringLiteral("-") + QString::number(n);
    QDir().mkpath(QFileInfo(m_filePath).absolutePath());
    QSaveFile file(aside);
    if (!file.open(QIODevice::WriteOnly) || file.write(*bytes) != bytes->size() || !file.commit()) {
        logLine(QStringLiteral("Error setting aside damaged preference ") + key + QStringLiteral(": ")
            + file.errorString());
        return {};
    }
    logLine(QStringLiteral("Damaged preference ") + key + QStringLiteral(" set aside: ") + aside);
    return aside;
}

void PreferenceStore::scheduleWrite()
{
    m_dirty = true;
    if (m_writeScheduled)
        return;
    m_writeScheduled = true;
    // One write for everything changed during this turn of the event loop.
    QTimer::singleShot(0, this, [this] {
        m_writeScheduled = false;
        if (m_dirty)
            writeNow();
    });
}

bool PreferenceStore::writeNow()
{
    if (m_readOnly) {
        logLine(QStringLiteral(
                    "Error saving preferences: the existing file could not be read, so it is left as it is: ")
            + m_filePath);
        return false;
    }
    std::optional<QByteArray> bytes = encodeBinaryPlist(QVariant(m_values));
    if (!bytes) {
        logLine(QStringLiteral("Error saving preferences: could not encode the values"));
        return false;
    }
    const QFileInfo info(m_filePath);
    if (!QDir().mkpath(info.absolutePath())) {
        logLine(QStringLiteral("Error saving preferences: cannot create folder ") + info.absolutePath());
        return false;
    }
    // Temporary file, then rename: a crash leaves the old file or the new one, whole.
    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly) || file.write(*bytes) != bytes->size() || !file.commit()) {
        logLine(QStringLiteral("Error saving preferences: ") + file.errorString());
        return false;
    }
    m_dirty = false;
    return true;
}

} // namespace kivo::platform
