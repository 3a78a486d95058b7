#pragma once

// Which folders may become a collection's root. Whole drives, home folders and the folders directly
// under "/" are refused: indexing them would sweep in far more than samples, and a later relocation
// or removal would rewrite paths all over the disk.

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <set>
#include <string>

namespace kivo::library {

class RootEligibility {
public:
    struct Rejection {
        enum class Kind { volumeRoot, homeFolder, systemFolder };
        Kind kind = Kind::volumeRoot;
        QString name; // the refused folder's display name

        // The sentence shown to the user.
        QString message() const;
        bool operator==(const Rejection&) const = default;
    };

    // What the check asks of the system; tests build their own.
    struct Environment {
        QString homePath; // the current user's home folder, links resolved
        std::set<std::string> mountPoints; // of the mounted volumes
        // The label of the volume mounted at a path; empty when it has none.
        std::function<QString(const QString&)> volumeName;
        // The path with symbolic links resolved; where the path does not exist, as far as it does.
        std::function<QString(const QString&)> resolveLinks;

        // This user, this machine, now.
        static Environment current();
    };

    struct Screened {
        QStringList eligible;
        QList<Rejection> refused;
    };

    explicit RootEligibility(Environment environment = Environment::current());

    // None when the folder may be added.
    std::optional<Rejection> check(const QString& folderPath) const;
    // Checks folders one by one, as the user chose or dropped them; order is kept on both sides.
    Screened screen(const QStringList& folderPaths) const;

    // The home folder in the user database, else the platform's home path.
    static QString currentUserHome();
    // "." and ".." removed without touching the disk; a relative path is taken from the current folder.
    static QString standardized(const QString& path);
    // Links resolved through the deepest part of the path that exists.
    static QString resolveExistingLinks(const QString& path);

private:
    Environment m_env;
};

// The pop-up that reports refused folders: one refusal quotes its message, several list theirs.
struct IneligibleAlert {
    QString title;
    QString text;
    bool operator==(const IneligibleAlert&) const = default;
};
// None when nothing was refused.
std::optional<IneligibleAlert> ineligibleAlert(const QList<RootEligibility::Rejection>& refused);

} // namespace kivo::library
