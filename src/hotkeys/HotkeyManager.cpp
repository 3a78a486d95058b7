#include "hotkeys/HotkeyManager.h"

#include "library/BookmarkGroup.h"
#include "library/LibraryIndexManager.h"
#include "library/UserSettings.h"
#include "platform/NotificationCenter.h"
#include "platform/PreferenceStore.h"
#include "platform/ResourceFolder.h"
#include "platform/VolumeMonitor.h"
#include "playback/AudioPlayerManager.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QThread>

#include <cassert>
#include <sys/stat.h>

namespace kivo::hotkeys {

namespace {

// A list of strings, or none when the value is anything else.
std::optional<std::vector<std::string>> stringList(const QVariant& value)
{
    if (value.typeId() != QMetaType::QVariantList)
        return std::nullopt;
    std::vector<std::string> out;
    for (const QVariant& v : value.toList()) {
        if (v.typeId() != QMetaType::QString)
            return std::nullopt;
        out.push_back(v.toString().toStdString());
    }
    return out;
}

QVariantList bankValue(const Bank& bank)
{
    QVariantList out;
    for (const auto& path : bank)
        out << QString::fromStdString(path);
    return out;
}

bool fileExists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

} // namespace

HotkeyManager::HotkeyManager(
    platform::PreferenceStore& store, library::UserSettings* settings, Options options, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_settings(settings)
    , m_options(std::move(options))
    , m_clock(m_options.clock ? *m_options.clock : platform::Clock::system())
{
    assert(m_options.volumes && m_options.background);
    if (!m_options.exists)
        m_options.exists = fileExists;
    if (!m_options.resourceFolder)
        m_options.resourceFolder = [] { return platform::applicationResourceFolder(); };

    readStore(Legacy::read);
    if (m_settings) {
        connect(m_settings, &library::UserSettings::selectedGroupChanged, this,
            &HotkeyManager::followSelectedCollection);
        connect(m_settings, &library::UserSettings::bookmarksChanged, this,
            &HotkeyManager::followSelectedCollection);
    }
    followSelectedCollection();
    refreshSlots();

    connect(
        m_options.volumes, &platform::VolumeMonitor::volumesChanged, this, &HotkeyManager::refreshMissing);
    auto& centre = platform::NotificationCenter::shared();
    for (const char* name : { library::kPathsSyncedNotification, library::kLibraryFileRemovedNotification })
        centre.observe(QString::fromLatin1(name), this, [this](const QVariantMap&) { refreshMissing(); });
    QPointer<HotkeyManager> self(this);
    m_firstCheck = m_clock.after(kFirstCheckDelay, [self] {
        if (self)
            self->refreshMissing();
    });
}

HotkeyManager::~HotkeyManager()
{
    if (m_firstCheck)
        m_firstCheck->cancel();
}

void HotkeyManager::assertMainThread() const
{
    assert(QThread::currentThread() == thread());
}

void HotkeyManager::readStore(Legacy legacy)
{
    m_banks.globalBanks = {};
    bool haveGlobal = false;
    if (const auto sets = m_store.arrayValue(QString::fromLatin1(kGlobalSetsKey))) {
        std::vector<std::vector<std::string>> banks;
        for (const QVariant& v : *sets) {
            auto strings = stringList(v);
            if (!strings) {
                banks.clear();
                break;
            }
            banks.push_back(std::move(*strings));
        }
        haveGlobal = !banks.empty() || sets->isEmpty();
        for (std::size_t i = 0; i < banks.size() && i < std::size_t(kGlobalBankCount); ++i)
            m_banks.globalBanks[i] = bankFromStrings(banks[i]);
    }
    if (!haveGlobal && legacy == Legacy::read)
        if (const auto old = m_store.value(QString::fromLatin1(kLegacyHotkeysKey)))
            if (const auto strings = stringList(*old))
                m_banks.globalBanks[0] = bankFromStrings(*strings);

    m_banks.collectionBanks.clear();
    if (const auto sets = m_store.dictValue(QString::fromLatin1(kCollectionSetsKey)))
        for (auto it = sets->begin(); it != sets->end(); ++it)
            if (const auto strings = stringList(it.value()))
                m_banks.collectionBanks[it.key().toStdString()] = bankFromStrings(*strings);

    const auto mode = m_store.stringValue(QString::fromLatin1(kModeKey));
    m_banks.mode = HotkeyMode::parse(mode ? std::optional(mode->toStdString()) : std::nullopt);
    const int pitch = int(m_store.intValue(QString::fromLatin1(kChordPitchKey)).value_or(0) % 12);
    m_chordPitchClass = (pitch + 12) % 12;
    m_chordIsMinor = m_store.boolValue(QString::fromLatin1(kChordMinorKey)).value_or(false);
}

void HotkeyManager::followSelectedCollection()
{
    std::optional<std::string> id;
    if (m_settings)
        if (const auto uuid = m_settings->groupID(m_settings->selectedGroup()))
            id = library::canonicalIdText(*uuid).toStdString();
    if (id == m_banks.activeCollectionID)
        return;
    m_banks.activeCollectionID = id;
    if (m_banks.mode.kind == HotkeyMode::Kind::collection)
        refreshSlots();
}

QStringList HotkeyManager::slotPaths() const
{
    QStringList out;
    for (const auto& p : m_slots)
        out << QString::fromStdString(p);
    return out;
}

QStringList HotkeyManager::missingSlotPathList() const
{
    QStringList out(m_missingSlotPaths.begin(), m_missingSlotPaths.end());
    out.sort();
    return out;
}

void HotkeyManager::setSlots(const Bank& shown)
{
    if (shown == m_slots)
        return;
    m_slots = shown;
    emit slotsChanged();
}

void HotkeyManager::refreshSlots()
{
    assertMainThread();
    setSlots(m_banks.shownSlots());
    if (m_banks.mode.kind == HotkeyMode::Kind::chords)
        rebuildChordTriads();
}

void HotkeyManager::apply(int change)
{
    if (change & HotkeyBanks::kModeChanged) {
        refreshSlots();
        saveMode();
        emit modeChanged();
    }
    if (change & HotkeyBanks::kBanksChanged) {
        setSlots(m_banks.shownSlots());
        saveBanks();
    }
}

void HotkeyManager::assign(const QString& path, int slot)
{
    assertMainThread();
    apply(m_banks.assign(path.toStdString(), slot));
}

void HotkeyManager::assignMany(
    const QStringList& paths, int startSlot, const std::function<void()>& completion)
{
    assertMainThread();
    std::vector<std::string> list;
    for (const QString& p : paths)
        list.push_back(p.toStdString());
    apply(m_banks.assignMany(list, startSlot));
    if (completion)
        completion();
}

void HotkeyManager::clearSlot(int slot)
{
    assertMainThread();
    apply(m_banks.clearSlot(slot));
}

void HotkeyManager::clearAll()
{
    assertMainThread();
    apply(m_banks.clearAll());
}

void HotkeyManager::remapPaths(const QString& from, const QString& to)
{
    assertMainThread();
    apply(m_banks.remapPaths(from.toStdString(), to.toStdString()));
    if (!m_missingSlotPaths.isEmpty())
        refreshMissing();
}

void HotkeyManager::setMode(HotkeyMode mode)
{
    assertMainThread();
    const HotkeyMode before = m_banks.mode;
    if (!m_banks.setMode(mode))
        return;
    refreshSlots();
    saveMode();
    if (m_banks.mode != before)
        emit modeChanged();
}

void HotkeyManager::setChordKey(int pitchClass, bool isMinor)
{
    assertMainThread();
    m_chordPitchClass = ((pitchClass % 12) + 12) % 12;
    m_chordIsMinor = isMinor;
    m_store.setValue(QString::fromLatin1(kChordPitchKey), qint64(m_chordPitchClass));
    m_store.setValue(QString::fromLatin1(kChordMinorKey), m_chordIsMinor);
    emit chordKeyChanged();
    rebuildChordTriads();
}

void HotkeyManager::rebuildChordTriads()
{
    // Listing the key's folder is disk work: the table arrives a moment later, and only the
    // answer for the key still chosen is kept.
    const quint64 request = ++m_chordRequest;
    const int pitch = m_chordPitchClass;
    const bool minor = m_chordIsMinor;
    const auto folder = m_options.resourceFolder;
    QPointer<HotkeyManager> self(this);
    run([self, request, pitch, minor, folder]() -> std::function<void()> {
        auto triads = ChordTriads::build(pitch, minor, folder());
        return [self, request, triads = std::move(triads)] {
            if (!self || self->m_chordRequest != request)
                return;
            if (triads == self->m_chordTriads)
                return;
            self->m_chordTriads = triads;
            emit self->chordTriadsChanged();
        };
    });
}

void HotkeyManager::saveBanks()
{
    QVariantList global;
    for (const Bank& bank : m_banks.globalBanks)
        global.append(QVariant(bankValue(bank)));
    QVariantMap collections;
    for (const auto& [id, bank] : m_banks.collectionBanks)
        collections.insert(QString::fromStdString(id), bankValue(bank));
    m_store.setValue(QString::fromLatin1(kGlobalSetsKey), global);
    m_store.setValue(QString::fromLatin1(kCollectionSetsKey), collections);
}

void HotkeyManager::saveMode()
{
    m_store.setValue(QString::fromLatin1(kModeKey), modeText());
}

std::optional<QString> HotkeyManager::slotFile(int slot) const
{
    if (slot < 0 || slot >= kSlotCount)
        return std::nullopt;
    if (m_banks.mode.kind == HotkeyMode::Kind::chords) {
        if (std::size_t(slot) < m_chordTriads.size() && m_chordTriads[std::size_t(slot)].url)
            return QString::fromStdString(m_chordTriads[std::size_t(slot)].url->string());
        return std::nullopt;
    }
    const std::string& path = m_slots[std::size_t(slot)];
    if (path.empty())
        return std::nullopt;
    return QString::fromStdString(path);
}

QString HotkeyManager::slotLabel(int slot) const
{
    QString label = QString::number(slot + 1);
    if (slot < 0 || slot >= kSlotCount)
        return label;
    const Bank bank = m_banks.mode.kind == HotkeyMode::Kind::chords ? m_banks.labelSlots() : m_slots;
    const std::string& path = bank[std::size_t(slot)];
    if (!path.empty())
        label += QStringLiteral("  \u00B7  ") + QFileInfo(QString::fromStdString(path)).fileName();
    return label;
}

bool HotkeyManager::fire(int slot, playback::AudioPlayerManager& player) const
{
    const auto file = slotFile(slot);
    if (!file)
        return false;
    player.play(QUrl::fromLocalFile(*file));
    return true;
}

void HotkeyManager::reloadFromStore()
{
    assertMainThread();
    const HotkeyMode before = m_banks.mode;
    readStore(Legacy::ignore);
    if (!m_missingSlotPaths.isEmpty()) {
        m_missingSlotPaths.clear();
        emit missingSlotPathsChanged();
    }
    m_banks.activeCollectionID.reset();
    std::optional<std::string> id;
    if (m_settings)
        if (const auto uuid = m_settings->groupID(m_settings->selectedGroup()))
            id = library::canonicalIdText(*uuid).toStdString();
    m_banks.activeCollectionID = id;
    emit chordKeyChanged();
    if (m_banks.mode != before)
        emit modeChanged();
    refreshSlots();
}

void HotkeyManager::refreshMissing()
{
    assertMainThread();
    const std::set<std::string> paths = m_banks.allPaths();
    const std::set<std::string> mounted = m_options.volumes->mountPoints();
    const auto exists = m_options.exists;
    QPointer<HotkeyManager> self(this);
    run([self, paths, mounted, exists]() -> std::function<void()> {
        auto check = checkSlotPaths(paths, mounted, exists);
        return [self, check = std::move(check)] {
            if (!self)
                return;
            if (self->m_banks.removePaths(check.gone)) {
                self->saveBanks();
                self->refreshSlots();
            }
            QSet<QString> missing;
            for (const auto& p : check.onUnmountedDrives)
                missing.insert(QString::fromStdString(p));
            if (missing != self->m_missingSlotPaths) {
                self->m_missingSlotPaths = missing;
                emit self->missingSlotPathsChanged();
            }
        };
    });
}

void HotkeyManager::run(Job job)
{
    m_options.background(std::move(job));
}

} // namespace kivo::hotkeys
