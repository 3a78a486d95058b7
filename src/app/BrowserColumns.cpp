#include "app/BrowserColumns.h"

#include "music/BpmFromName.h"
#include "music/MusicalKey.h"

#include <QApplication>
#include <QFont>
#include <QFontMetrics>
#include <QIcon>
#include <QStyle>

#include <algorithm>
#include <cmath>

namespace kivo::app {

namespace {

// Main thread. Made once per style: the style decodes its icon files on every call, and a tree
// laying out a thousand rows asks for one per row.
QIcon rowIcon(bool directory)
{
    struct Icons {
        const QStyle* style = nullptr;
        QIcon folder, file;
    };
    static Icons* const icons = new Icons; // outlives the application's last paint
    const QStyle* style = QApplication::style();
    if (icons->style != style) {
        icons->style = style;
        icons->folder = style->standardIcon(QStyle::SP_DirIcon);
        icons->file = style->standardIcon(QStyle::SP_FileIcon);
    }
    return directory ? icons->folder : icons->file;
}

// A value the user marked as none shows as a dash.
const QString kNoneMark = QStringLiteral("\u2013");
// The user's tempo and key: a soft blue that reads on light and dark rows alike.
const QColor kUserValueColor(0x3d, 0x8b, 0xd9);

bool byUser(const BrowserRow& row, int column)
{
    return (column == kBpmColumn && row.bpmByUser) || (column == kKeyColumn && row.keyByUser);
}

bool hasValue(const BrowserRow& row, int column)
{
    return column == kBpmColumn ? row.bpm.has_value() : row.key.has_value();
}

bool analysed(const BrowserRow& row, int column)
{
    return (column == kBpmColumn && row.bpmAnalysed) || (column == kKeyColumn && row.keyAnalysed);
}

// Whether a file or folder name gives the row's value, as the scanner reads names.
bool nameGives(const BrowserRow& row, int column, std::string_view name, music::LoneAccidental accidental)
{
    if (column == kBpmColumn)
        return (accidental == music::LoneAccidental::accept ? music::bpmFromName(name)
                                                            : music::bpmFromNamePattern(name))
            == row.bpm;
    const auto key = music::MusicalKey::fromName(name, accidental);
    return key && row.key && key->keyText() == *row.key;
}

} // namespace

QVariant browserHeader(int column, int role)
{
    if (role == Qt::TextAlignmentRole && column != kNameColumn)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    switch (column) {
    case kNameColumn:
        return QApplication::translate("BrowserColumns", "Name");
    case kBpmColumn:
        return QApplication::translate("BrowserColumns", "BPM");
    case kKeyColumn:
        return QApplication::translate("BrowserColumns", "Key");
    case kLengthColumn:
        return QApplication::translate("BrowserColumns", "Length");
    default:
        return {};
    }
}

QString valueSource(const BrowserRow& row, int column)
{
    if ((column != kBpmColumn && column != kKeyColumn) || !hasValue(row, column))
        return {};
    if (byUser(row, column))
        return QStringLiteral("user");
    if (analysed(row, column))
        return QStringLiteral("analysis");
    const std::string_view path = row.path;
    const auto slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (row.isDirectory)
        return QStringLiteral("folder");
    // The scanner takes the header or tags first, then the name, then the folders above; a value
    // the name or a folder gives is named after it, since the header mostly gives none.
    if (nameGives(row, column, name, music::LoneAccidental::accept))
        return QStringLiteral("name");
    for (std::string_view folder
         = slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
         folder.size() > 1;) {
        const auto up = folder.rfind('/');
        if (nameGives(row, column, folder.substr(up + 1), music::LoneAccidental::reject))
            return QStringLiteral("folder");
        if (up == std::string_view::npos || up == 0)
            break;
        folder = folder.substr(0, up);
    }
    const QString extension = QString::fromStdString(std::string(name.substr(name.rfind('.') + 1))).toLower();
    return extension == QLatin1String("wav") || extension.startsWith(QLatin1String("aif"))
        ? QStringLiteral("header")
        : QStringLiteral("tag");
}

QString formatLength(double seconds)
{
    if (!(seconds >= 0) || std::isinf(seconds))
        return {};
    // Hundredths for one-shots, which are often well under a second.
    if (seconds < 1)
        return QString::number(seconds, 'f', 2) + QStringLiteral(" s");
    if (seconds < 10)
        return QString::number(seconds, 'f', 1) + QStringLiteral(" s");
    const auto total = qint64(std::floor(seconds));
    return QStringLiteral("%1:%2").arg(total / 60).arg(total % 60, 2, 10, QLatin1Char('0'));
}

QString keyDisplayText(const std::string& keyText, music::KeySpelling spelling)
{
    const auto key = music::MusicalKey::parse(keyText);
    return key ? QString::fromStdString(key->displayName(spelling)) : QString();
}

int keyColumnWidth(const QFontMetrics& metrics)
{
    int widest = 0;
    for (const music::KeySpelling spelling : music::kAllKeySpellings)
        for (int pitchClass = 0; pitchClass < 12; ++pitchClass)
            for (const bool minor : { false, true }) {
                const music::MusicalKey key { pitchClass, minor, "C" };
                widest = std::max(
                    widest, metrics.horizontalAdvance(QString::fromStdString(key.displayName(spelling))));
            }
    // The cell's own margins on both sides, as the view's style draws them.
    return widest + 2 * (QApplication::style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1) + 8;
}

QVariant browserData(
    const BrowserRow& row, int column, int role, const QString& missingReason, music::KeySpelling spelling)
{
    switch (role) {
    case Qt::ForegroundRole:
        if (!missingReason.isEmpty())
            return QApplication::palette().color(QPalette::Disabled, QPalette::Text);
        // The user's own values read as the same text, set apart only by a tint and slant.
        if (byUser(row, column))
            return hasValue(row, column) ? kUserValueColor
                                         : QApplication::palette().color(QPalette::PlaceholderText);
        // Heard rather than read: dimmed, so that it reads as a guess.
        if (analysed(row, column))
            return QApplication::palette().color(QPalette::PlaceholderText);
        return {};
    case kPathRole:
        return QString::fromStdString(row.path);
    case kIsDirectoryRole:
        return row.isDirectory;
    case kTagsRole: {
        QStringList tags;
        for (const auto& t : row.tags)
            tags << QString::fromStdString(t);
        return tags;
    }
    case Qt::ToolTipRole:
        if (!missingReason.isEmpty())
            return QString::fromStdString(row.path) + QLatin1Char('\n') + missingReason;
        if (column == kNameColumn)
            return QString::fromStdString(row.path);
        if (byUser(row, column))
            return hasValue(row, column)
                ? QApplication::translate("BrowserColumns", "Set by you")
                : QApplication::translate("BrowserColumns", "Marked by you as having none");
        if (const QString source = valueSource(row, column); !source.isEmpty())
            return source == QLatin1String("analysis")
                ? QApplication::translate("BrowserColumns", "Heard from the audio (analysis)")
                : QApplication::translate("BrowserColumns", "Source: %1").arg(source);
        return {};
    case Qt::FontRole:
        if (byUser(row, column) && hasValue(row, column)) {
            QFont italic = QApplication::font();
            italic.setItalic(true);
            return italic;
        }
        return {};
    case Qt::TextAlignmentRole:
        return column == kNameColumn ? QVariant() : QVariant(int(Qt::AlignRight | Qt::AlignVCenter));
    case Qt::DecorationRole:
        if (column != kNameColumn)
            return {};
        return rowIcon(row.isDirectory);
    case Qt::DisplayRole:
        break;
    default:
        return {};
    }
    switch (column) {
    case kNameColumn:
        return QString::fromStdString(row.name);
    case kBpmColumn:
        if (row.bpm)
            return QString::number(*row.bpm);
        return row.bpmByUser ? QVariant(kNoneMark) : QVariant();
    case kKeyColumn:
        if (const QString shown = row.key ? keyDisplayText(*row.key, spelling) : QString(); !shown.isEmpty())
            return shown;
        return row.keyByUser ? QVariant(kNoneMark) : QVariant();
    case kLengthColumn:
        return row.duration ? QVariant(formatLength(*row.duration)) : QVariant();
    default:
        return {};
    }
}

} // namespace kivo::app
