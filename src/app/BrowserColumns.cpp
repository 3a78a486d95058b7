#include "app/BrowserColumns.h"

#include "music/MusicalKey.h"

#include <QApplication>
#include <QFontMetrics>
#include <QStyle>

#include <algorithm>
#include <cmath>

namespace kivo::app {

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

QVariant browserData(const BrowserRow& row, int column, int role, bool missing, music::KeySpelling spelling)
{
    switch (role) {
    case Qt::ForegroundRole:
        return missing ? QVariant(QApplication::palette().color(QPalette::Disabled, QPalette::Text))
                       : QVariant();
    case kPathRole:
        return QString::fromStdString(row.path);
    case kIsDirectoryRole:
        return row.isDirectory;
    case Qt::ToolTipRole:
        return column == kNameColumn ? QVariant(QString::fromStdString(row.path)) : QVariant();
    case Qt::TextAlignmentRole:
        return column == kNameColumn ? QVariant() : QVariant(int(Qt::AlignRight | Qt::AlignVCenter));
    case Qt::DecorationRole:
        if (column != kNameColumn)
            return {};
        return QApplication::style()->standardIcon(
            row.isDirectory ? QStyle::SP_DirIcon : QStyle::SP_FileIcon);
    case Qt::DisplayRole:
        break;
    default:
        return {};
    }
    switch (column) {
    case kNameColumn:
        return QString::fromStdString(row.name);
    case kBpmColumn:
        return row.bpm ? QVariant(QString::number(*row.bpm)) : QVariant();
    case kKeyColumn:
        if (const QString shown = row.key ? keyDisplayText(*row.key, spelling) : QString(); !shown.isEmpty())
            return shown;
        return {};
    case kLengthColumn:
        return row.duration ? QVariant(formatLength(*row.duration)) : QVariant();
    default:
        return {};
    }
}

} // namespace kivo::app
