#include "library/RootEligibility.h"

#include "platform/MountTable.h"

#include <QDir>
#include <QFile>
#include <QStorageInfo>

#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace kivo::library {

namespace {

std::optional<QString> realPath(const QString& path)
{
    char resolved[PATH_MAX];
    if (!::realpath(QFile::encodeName(path).constData(), resolved))
        return std::nullopt;
    return QFile::decodeName(resolved);
}

using Kind = RootEligibility::Rejection::Kind;

} // namespace

QString RootEligibility::Rejection::message() const
{
    switch (kind) {
    case Kind::volumeRoot:
        return QStringLiteral(u"“%1” is a drive and can’t be synced for protective reasons.").arg(name);
    case Kind::homeFolder:
        return QStringLiteral(u"“%1” is a home folder and can’t be synced for protective reasons.").arg(name);
    case Kind::systemFolder:
        return QStringLiteral(u"“%1” is a system folder and can’t be synced for protective reasons.")
            .arg(name);
    }
    return {};
}

RootEligibility::Environment RootEligibility::Environment::current()
{
    Environment env;
    env.homePath = resolveExistingLinks(standardized(currentUserHome()));
    if (const auto table = platform::MountTable::read())
        env.mountPoints = table->volumeRoots();
    env.volumeName = [](const QString& path) {
        const QStorageInfo volume(path);
        return volume.isValid() && volume.rootPath() == path ? volume.name() : QString();
    };
    env.resolveLinks = &RootEligibility::resolveExistingLinks;
    return env;
}

RootEligibility::RootEligibility(Environment environment)
    : m_env(std::move(environment))
{
}

QString RootEligibility::currentUserHome()
{
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir && *entry->pw_dir)
        return QFile::decodeName(entry->pw_dir);
    return QDir::homePath();
}

QString RootEligibility::standardized(const QString& path)
{
    return QDir::cleanPath(QDir::isAbsolutePath(path) ? path : QDir::current().absoluteFilePath(path));
}

QString RootEligibility::resolveExistingLinks(const QString& path)
{
    if (const auto resolved = realPath(path))
        return *resolved;
    // A folder that is gone (an unplugged drive's path, say) is judged by its name, below the
    // deepest part that still exists.
    QString existing = path;
    QString rest;
    while (existing.size() > 1) {
        const qsizetype slash = existing.lastIndexOf(u'/');
        if (slash < 0)
            return path;
        rest.prepend(existing.mid(slash));
        existing.truncate(slash == 0 ? 1 : slash);
        if (const auto resolved = realPath(existing))
            return *resolved == u"/" ? rest : *resolved + rest;
    }
    return path;
}

std::optional<RootEligibility::Rejection> RootEligibility::check(const QString& folderPath) const
{
    const QString clean = standardized(folderPath);
    const QString path = m_env.resolveLinks ? standardized(m_env.resolveLinks(clean)) : clean;
    const QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
    const QString name = parts.isEmpty() ? QStringLiteral("/") : parts.last();
    const std::string plain = path.toStdString();

    if (parts.isEmpty()) {
        const QString label = m_env.volumeName ? m_env.volumeName(QStringLiteral("/")) : QString();
        return Rejection { Kind::volumeRoot, label.isEmpty() ? name : label };
    }
    if (m_env.mountPoints.count(plain) || platform::removableVolumeOf(plain) == plain)
        return Rejection { Kind::volumeRoot, name };
    if (!m_env.homePath.isEmpty() && path == m_env.homePath)
        return Rejection { Kind::homeFolder, name };
    // Anybody's home folder, not only this user's; the one shared folder beside them is fine.
    if (parts.size() == 2 && ((parts[0] == u"Users" && parts[1] != u"Shared") || parts[0] == u"home"))
        return Rejection { Kind::homeFolder, name };
    // The folders that gather drives are as much the system's as anything directly under "/".
    if (parts.size() == 1 || platform::holdsRemovableMedia(plain))
        return Rejection { Kind::systemFolder, name };
    return std::nullopt;
}

RootEligibility::Screened RootEligibility::screen(const QStringList& folderPaths) const
{
    Screened out;
    for (const QString& folder : folderPaths) {
        if (auto rejection = check(folder))
            out.refused.append(std::move(*rejection));
        else
            out.eligible.append(folder);
    }
    return out;
}

std::optional<IneligibleAlert> ineligibleAlert(const QList<RootEligibility::Rejection>& refused)
{
    if (refused.isEmpty())
        return std::nullopt;
    if (refused.size() == 1)
        return IneligibleAlert { QStringLiteral("Ineligible folder"), refused.first().message() };
    QStringList lines;
    for (const auto& rejection : refused)
        lines.append(QStringLiteral(u"• ") + rejection.message());
    return IneligibleAlert { QStringLiteral("Ineligible folders"), lines.join(u'\n') };
}

} // namespace kivo::library
