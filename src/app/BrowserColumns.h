#pragma once

// The columns the tree and the result list share: name, tempo, key and length of a row.

#include "music/KeySpelling.h"

#include <QString>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QFontMetrics;
class QStyle;

namespace kivo::app {

enum BrowserColumn { kNameColumn, kBpmColumn, kKeyColumn, kLengthColumn, kColumnCount };

// Roles beyond Qt's own that the window reads from both models.
enum BrowserRole {
    kPathRole = Qt::UserRole + 1, // QString, the absolute path
    kIsDirectoryRole, // bool
    kTagsRole, // QStringList, the row's effective tags in the user's order
    kRowMarksRole, // int, the row's hidden and skipped marks (packRowMarks)
    kHideModeRole, // bool, hide mode or the hidden-items list is on
};

struct BrowserRow {
    std::string path;
    std::string name;
    bool isDirectory = false;
    // Effective values: the user's overrides and folder inheritance applied to the item's own.
    std::optional<std::int64_t> bpm;
    std::optional<std::string> key;
    std::optional<double> duration;
    // The value shown (or its absence) is the user's rather than the file's.
    bool bpmByUser = false;
    bool keyByUser = false;
    // Heard from the file's audio, since nothing else gave one.
    bool bpmAnalysed = false;
    bool keyAnalysed = false;
    std::vector<std::string> tags;
};

QVariant browserHeader(int column, int role);
// `missingReason`: why the file or folder is known to be gone (its row is greyed out and its tooltip
// says why); empty when it is not. Keys are shown in `spelling`.
QVariant browserData(const BrowserRow& row, int column, int role, const QString& missingReason = {},
    music::KeySpelling spelling = music::KeySpelling::automatic);
// A stored key as the rows show it ("E♭ Minor"); empty when the text is not a key.
QString keyDisplayText(const std::string& keyText, music::KeySpelling spelling);
// Wide enough for every key in every spelling.
int keyColumnWidth(const QFontMetrics& metrics);
// Why a path is known to be missing; empty when it is not.
using MissingCheck = std::function<QString(const std::string& path)>;
// Asked only for the roles that show it.
inline bool showsMissing(int role)
{
    return role == Qt::ForegroundRole || role == Qt::ToolTipRole;
}
// Where the row's tempo or key comes from, as its tooltip names it: "user", "analysis", "header",
// "tag", "name" or "folder"; empty when it has none.
QString valueSource(const BrowserRow& row, int column);
// "0.25 s" below a second, "4.2 s" below ten seconds, else "m:ss".
QString formatLength(double seconds);

} // namespace kivo::app
