#include "analysis/AnalysisStore.h"
#include "analysis/BackgroundAnalyser.h"
#include "platform/TaskRunner.h"
#include "support/AudioFixtures.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <sqlite3.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>

using namespace kivo::analysis;

namespace {

AnalysisResult heard(double bpm)
{
    AnalysisResult result;
    result.bpm = bpm;
    result.key = kivo::music::MusicalKey::parse("C#m");
    result.loudness = -14.25;
    result.truePeak = -0.5;
    result.isLoop = true;
    result.duration = 4;
    return result;
}

// The analyser runs at idle priority: on a busy machine it takes its time.
bool waitFor(const std::function<bool()>& done)
{
    return kivo::test::waitFor(done, 120000);
}

} // namespace

TEST(AnalysisStore, KeepsResultsWhileFilesStayTheSameAndFollowMoves)
{
    kivo::test::ScratchDir dir;
    const std::string root = dir.str();
    const std::string dbPath = AnalysisStore::pathBeside(root + "/SearchIndex.json");
    std::filesystem::create_directories(root + "/Packs/Drums");
    // A name that is not UTF-8 is kept byte for byte.
    const std::string loop = root + "/Packs/Drums/loop \xff.wav";
    std::ofstream(loop) << "RIFF....";
    {
        std::string error;
        auto store = AnalysisStore::open(dbPath, error);
        ASSERT_TRUE(store) << error;
        const auto identity = AnalysisStore::identify(loop);
        ASSERT_TRUE(identity);
        EXPECT_FALSE(store->find(*identity));
        ASSERT_TRUE(store->save(*identity, heard(92.5)));
    }
    std::string error;
    auto store = AnalysisStore::open(dbPath, error);
    ASSERT_TRUE(store) << error;
    auto found = store->find(*AnalysisStore::identify(loop));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->bpm, 92.5);
    EXPECT_EQ(found->key->keyText(), "C#m");
    EXPECT_EQ(found->loudness, -14.25);
    EXPECT_EQ(found->isLoop, true);

    // A changed file is heard again.
    auto changed = *AnalysisStore::identify(loop);
    changed.size += 1;
    EXPECT_FALSE(store->find(changed));

    // A folder moved on disk: the file under its new path finds its old result, once.
    std::filesystem::rename(root + "/Packs", root + "/Library");
    const std::string moved = root + "/Library/Drums/loop \xff.wav";
    found = store->find(*AnalysisStore::identify(moved));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->bpm, 92.5);
    EXPECT_EQ(store->count(), 1);
    EXPECT_TRUE(store->find(*AnalysisStore::identify(moved)));

    // A move told by the index; a sibling folder whose name starts the same stays put.
    ASSERT_TRUE(store->save(*AnalysisStore::identify(dir.write("Library/Drums2.wav", "x")), heard(140)));
    ASSERT_TRUE(store->moveFolder(root + "/Library/Drums", root + "/Library/Beats"));
    std::filesystem::rename(root + "/Library/Drums", root + "/Library/Beats");
    const auto beats = AnalysisStore::identify(root + "/Library/Beats/loop \xff.wav");
    ASSERT_TRUE(store->find(*beats));
    EXPECT_EQ(store->find(*AnalysisStore::identify(root + "/Library/Drums2.wav"))->bpm, 140);
    EXPECT_TRUE(store->remove(beats->path));
    EXPECT_EQ(store->count(), 1);
}

TEST(AnalysisStore, SetsADamagedDatabaseAsideAndStartsAgain)
{
    kivo::test::ScratchDir dir;
    const std::string dbPath = dir.write("Analysis.sqlite", std::string(8192, 'x'));
    std::string error;
    auto store = AnalysisStore::open(dbPath, error);
    ASSERT_TRUE(store) << error;
    EXPECT_EQ(store->count(), 0);
    EXPECT_TRUE(std::filesystem::exists(dbPath + ".damaged")) << "the damaged file is kept, not deleted";

    // A folder that cannot hold the database is an error, not a crash.
    EXPECT_FALSE(AnalysisStore::open(dir.write("file", "x") + "/Analysis.sqlite", error));
    EXPECT_FALSE(error.empty());
}

TEST(BackgroundAnalyser, HearsQueuedFilesInTurnPausesAndKeepsResults)
{
    kivo::platform::TaskRunner tasks; // first: it outlives what runs on it
    kivo::test::ScratchDir dir;
    const std::string root = dir.str();
    std::vector<std::string> files;
    for (int i = 0; i < 4; ++i) {
        files.push_back(root + "/tone" + std::to_string(i) + ".wav");
        std::vector<float> tone(44100 * 2);
        for (std::size_t f = 0; f < tone.size() / 2; ++f)
            tone[2 * f] = tone[2 * f + 1]
                = float(0.3 * std::sin(2 * M_PI * 220 * (i + 1) * double(f) / 44100));
        kivo::test::writeWav(files.back(), tone);
    }
    files.push_back(root + "/missing.wav");
    // Databases from before fingerprints were kept (schema 1) and from before the audio's hash was
    // taken a word at a time (schema 2, whose hash and fingerprint no longer match), both holding
    // values for tone1 that its audio would not give: the values stay, and the file reads as not
    // fingerprinted, to be heard again for its fingerprint alone.
    auto oldDatabase = [&](const std::string& path, int schema) {
        sqlite3* old = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &old), SQLITE_OK);
        const auto tone1 = *AnalysisStore::identify(files[1]);
        const std::string sql
            = "CREATE TABLE analysis (path BLOB PRIMARY KEY, name BLOB NOT NULL, size INTEGER "
              "NOT NULL, modified INTEGER NOT NULL, version INTEGER NOT NULL, bpm REAL, key "
              "TEXT, loudness REAL, true_peak REAL, is_loop INTEGER, duration REAL NOT NULL, "
              "error TEXT NOT NULL"
            + std::string(schema == 2 ? ", fingerprint BLOB, audio_hash INTEGER" : "")
            + "); CREATE INDEX analysis_identity ON analysis (name, size, modified);"
              "PRAGMA user_version = "
            + std::to_string(schema == 2 ? 2 : 0) + "; INSERT INTO analysis VALUES (CAST('" + files[1]
            + "' AS BLOB), CAST('tone1.wav' AS BLOB), " + std::to_string(tone1.size) + ", "
            + std::to_string(tone1.modified) + ", 1, 92.5, 'C#m', -3.5, -1.0, 1, 1.0, ''"
            + (schema == 2 ? ", X'0102030405060708', 12345" : "") + ");";
        EXPECT_EQ(sqlite3_exec(old, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
            << sqlite3_errmsg(old);
        sqlite3_close(old);
    };
    oldDatabase(root + "/Schema1.sqlite", 1);
    oldDatabase(root + "/Analysis.sqlite", 2);
    std::string error;
    for (const char* name : { "/Schema1.sqlite", "/Analysis.sqlite" }) {
        const auto upgraded = AnalysisStore::open(root + name, error);
        ASSERT_TRUE(upgraded) << name << ": " << error;
        const auto kept = upgraded->find(*AnalysisStore::identify(files[1]));
        ASSERT_TRUE(kept) << name;
        EXPECT_EQ(kept->truePeak, -1.0) << name;
        EXPECT_EQ(kept->isLoop, true) << name;
        EXPECT_FALSE(kept->fingerprinted) << name;
    }
    std::shared_ptr<AnalysisStore> store = AnalysisStore::open(root + "/Analysis.sqlite", error);
    ASSERT_TRUE(store) << error;

    std::vector<std::string> order;
    std::map<std::string, AnalysisResult> results;
    {
        BackgroundAnalyser analyser(tasks, store, [&](const std::string& path, const AnalysisResult& result) {
            order.push_back(path);
            results[path] = result;
        });
        analyser.setPaused(true);
        analyser.enqueue(files);
        analyser.enqueue({ files[0] }); // already waiting: keeps its place
        analyser.prioritise({ files[3], files[2] }); // the rows in view go first
        QCoreApplication::processEvents(QEventLoop::AllEvents, 300);
        EXPECT_TRUE(order.empty()) << "nothing is heard while paused";
        EXPECT_EQ(analyser.progress().total, 5);
        analyser.setPaused(false);
        ASSERT_TRUE(waitFor([&] { return order.size() == 5; }));
        EXPECT_EQ(order, (std::vector<std::string> { files[3], files[2], files[0], files[1], files[4] }));
        EXPECT_EQ(analyser.progress().done, 5);
        EXPECT_EQ(analyser.progress().total, 5);
    }
    EXPECT_TRUE(results[files[0]].loudness);
    EXPECT_FALSE(results[files[4]].ok());
    EXPECT_EQ(store->count(), 4) << "a file that cannot be read is not kept";
    const AnalysisResult fresh = analyseFile(files[1]);
    ASSERT_FALSE(fresh.fingerprint.empty());
    for (const auto& kept : { results[files[1]], *store->find(*AnalysisStore::identify(files[1])) }) {
        EXPECT_EQ(kept.bpm, 92.5);
        EXPECT_EQ(kept.key->keyText(), "C#m");
        EXPECT_EQ(kept.loudness, -3.5);
        EXPECT_TRUE(kept.fingerprinted);
        EXPECT_EQ(kept.audioHash, fresh.audioHash);
        EXPECT_EQ(kept.fingerprint, fresh.fingerprint);
    }

    // Heard once: a second run, on the database opened again, finds every result unchanged, the new
    // fingerprint included (the upgrade is not made again).
    const int64_t before = store->count();
    store = AnalysisStore::open(root + "/Analysis.sqlite", error);
    ASSERT_TRUE(store) << error;
    const auto reopened = store->find(*AnalysisStore::identify(files[1]));
    ASSERT_TRUE(reopened);
    EXPECT_EQ(reopened->fingerprint, fresh.fingerprint);
    std::map<std::string, AnalysisResult> again;
    BackgroundAnalyser second(
        tasks, store, [&](const std::string& path, const AnalysisResult& result) { again[path] = result; });
    second.enqueue({ files[0], files[1] });
    ASSERT_TRUE(waitFor([&] { return again.size() == 2; }));
    EXPECT_EQ(again[files[0]].loudness, results[files[0]].loudness);
    EXPECT_EQ(again[files[1]].bpm, 92.5);
    EXPECT_EQ(store->count(), before);
}
