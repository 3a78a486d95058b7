#include "organise/BrowserTree.h"
#include "support/PaperLibrary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

using namespace kivo::organise;
using kivo::test::fileInfo;
using kivo::test::namesOf;

namespace {

const LightweightNode& named(const std::vector<LightweightNode>& nodes, const std::string& name)
{
    const auto found
        = std::find_if(nodes.begin(), nodes.end(), [&](const LightweightNode& n) { return n.name == name; });
    EXPECT_NE(found, nodes.end()) << name;
    return *found;
}

struct BrowserTreeFixture : ::testing::Test {
    kivo::test::PaperLibrary library;
    BrowserTree tree { library.loader(true) };

    void SetUp() override
    {
        library.folders["/A"] = { { "/A/Snares", "/A/Kicks" },
            { fileInfo("/A/Kick.mid"), fileInfo("/A/Loop 120.wav", 120), fileInfo("/A/Loop 90.wav", 90),
                fileInfo("/A/Hat.wav") } };
        library.folders["/A/Kicks"] = { {}, { fileInfo("/A/Kicks/k10.wav"), fileInfo("/A/Kicks/k9.wav") } };
        library.folders["/B"] = { {}, { fileInfo("/B/b.wav") } };
        library.folders["/C"] = { {}, { fileInfo("/C/c.wav") } };
    }
};

} // namespace

TEST_F(BrowserTreeFixture, ChildrenLoadOnFirstExpandOnlyAndInSiblingOrder)
{
    EXPECT_EQ(tree.current(), nullptr);
    EXPECT_FALSE(tree.expand(newNodeId()));
    auto& state = tree.showCollection("G1", { "/A", "/B" });
    EXPECT_EQ(namesOf(state.rootNodes), (std::vector<std::string> { "A", "B" }));
    EXPECT_EQ(library.totalReads(), 0); // showing roots reads nothing
    const NodeId a = state.rootNodes[0].id;
    EXPECT_EQ(tree.children(a), nullptr);
    EXPECT_TRUE(tree.visibleChildren(a).empty());

    ASSERT_TRUE(tree.expand(a));
    EXPECT_EQ(library.reads["/A"], 1);
    EXPECT_TRUE(state.isExpanded(a));
    ASSERT_NE(tree.children(a), nullptr);
    EXPECT_EQ(namesOf(*tree.children(a)),
        (std::vector<std::string> {
            "Kicks", "Snares", "Loop 90.wav", "Loop 120.wav", "Hat.wav", "Kick.mid" }));

    // Closing keeps the children; opening again reuses them.
    const auto loaded = *tree.children(a);
    tree.collapse(a);
    EXPECT_FALSE(state.isExpanded(a));
    EXPECT_TRUE(state.isLoaded(a));
    ASSERT_TRUE(tree.expand(a));
    EXPECT_EQ(library.reads["/A"], 1);
    EXPECT_EQ(tree.children(a)->front().id, loaded.front().id);

    // Deeper folders load when they open, not before.
    const NodeId kicks = named(*tree.children(a), "Kicks").id;
    EXPECT_EQ(library.reads.count("/A/Kicks"), 0u);
    ASSERT_TRUE(tree.expand(kicks));
    EXPECT_EQ(namesOf(*tree.children(kicks)), (std::vector<std::string> { "k9.wav", "k10.wav" }));
    // Files do not open; an empty or unreadable folder opens with no children.
    EXPECT_FALSE(tree.expand(named(*tree.children(a), "Hat.wav").id));
    EXPECT_FALSE(tree.loadChildren(named(*tree.children(a), "Hat.wav").id));
    const NodeId snares = named(*tree.children(a), "Snares").id;
    ASSERT_TRUE(tree.loadChildren(snares)); // loaded, not opened
    EXPECT_FALSE(state.isExpanded(snares));
    EXPECT_TRUE(tree.children(snares)->empty());
    ASSERT_TRUE(tree.expand(snares));
    EXPECT_EQ(library.totalReads(), 3);
}

TEST_F(BrowserTreeFixture, EachCollectionKeepsItsOwnState)
{
    auto& first = tree.showCollection("G1", { "/A", "/B" });
    const NodeId a = first.rootNodes[0].id;
    tree.expand(a);
    const NodeId loop = named(*tree.children(a), "Loop 90.wav").id;
    first.selectedNodeId = loop;
    first.selectedNodeIds = { loop };
    tree.setSearchResults({ fileNode(fileInfo("/A/Hat.wav")) });

    auto& second = tree.showCollection("G2", { "/A" });
    EXPECT_EQ(tree.currentGroup(), "G2");
    // Another collection with the same root is a tree of its own.
    EXPECT_NE(second.rootNodes[0].id, a);
    EXPECT_TRUE(second.expandedFolders.empty());
    EXPECT_TRUE(second.searchResults.empty());
    EXPECT_EQ(tree.children(a), nullptr);
    tree.expand(second.rootNodes[0].id);
    EXPECT_EQ(library.reads["/A"], 2);

    auto& back = tree.showCollection("G1", { "/A", "/B" });
    EXPECT_EQ(&back, &first);
    EXPECT_EQ(back.rootNodes[0].id, a);
    EXPECT_TRUE(back.isExpanded(a));
    EXPECT_EQ(back.selectedNodeId, loop);
    EXPECT_EQ(namesOf(back.searchResults), (std::vector<std::string> { "Hat.wav" }));
    EXPECT_EQ(library.reads["/A"], 2); // nothing read again

    tree.forgetCollection("G1");
    EXPECT_EQ(tree.state("G1"), nullptr);
    EXPECT_EQ(tree.current(), nullptr);
    EXPECT_NE(tree.state("G2"), nullptr);
}

TEST_F(BrowserTreeFixture, RootsFollowTheCollectionAndKeepTheirRows)
{
    auto& state = tree.showCollection("G1", { "/A", "/B", "/C" });
    const NodeId a = state.rootNodes[0].id, b = state.rootNodes[1].id;
    tree.expand(a);
    tree.expand(b);
    const NodeId kicks = named(*tree.children(a), "Kicks").id;
    tree.expand(kicks);
    state.selectedNodeId = named(*tree.children(kicks), "k9.wav").id;
    state.selectedNodeIds = { *state.selectedNodeId, b };

    // The stored order wins over the sibling order, and a root that left takes its rows with it.
    tree.showCollection("G1", { "/C", "/B" });
    EXPECT_EQ(namesOf(state.rootNodes), (std::vector<std::string> { "C", "B" }));
    EXPECT_EQ(state.rootNodes[1].id, b);
    EXPECT_TRUE(state.isExpanded(b));
    EXPECT_FALSE(state.isLoaded(a));
    EXPECT_FALSE(state.isLoaded(kicks));
    EXPECT_FALSE(state.isExpanded(kicks));
    EXPECT_EQ(state.selectedNodeId, std::nullopt);
    EXPECT_EQ(state.selectedNodeIds, NodeIdSet { b });

    // The same root twice gets two rows, each kept on its own.
    tree.showCollection("G1", { "/B", "/C", "/B" });
    EXPECT_EQ(state.rootNodes[0].id, b);
    EXPECT_NE(state.rootNodes[2].id, b);
    const NodeId secondB = state.rootNodes[2].id;
    tree.showCollection("G1", { "/B", "/B" });
    EXPECT_EQ(state.rootNodes[0].id, b);
    EXPECT_EQ(state.rootNodes[1].id, secondB);
    tree.showCollection("G1", {});
    EXPECT_TRUE(state.rootNodes.empty());
    EXPECT_TRUE(state.nodeChildren.empty());
    EXPECT_TRUE(state.expandedFolders.empty());
}

TEST_F(BrowserTreeFixture, DraggingRootsReordersThem)
{
    // Rows centred at 10, 30 and 50.
    const std::vector<double> centres { 10, 30, 50 };
    // Past the second row, past the last, not past anything, already first.
    for (const auto& [from, to, move] : { std::tuple { 0, 125.0, std::optional(RootMove { 0, 2 }) },
             { 0, 145.0, RootMove { 0, 3 } }, { 0, 1e9, RootMove { 0, 3 } }, { 0, 105.0, std::nullopt },
             { 0, 0.0, std::nullopt }, { 2, 75.0, RootMove { 2, 1 } }, { 2, -1e9, RootMove { 2, 0 } },
             { 1, 100.0, std::nullopt }, { 3, 0.0, std::nullopt } })
        EXPECT_EQ(rootDragMove(centres, from, 100, to), move) << from << " to " << to;
    EXPECT_EQ(rootDragMove({ 10 }, 0, 0, 500), std::nullopt);
    EXPECT_EQ(rootDragMove({}, 0, 0, 5), std::nullopt);
    EXPECT_EQ(rootDragMove(centres, 0, 0, std::numeric_limits<double>::quiet_NaN()), std::nullopt);

    std::vector<int> list { 0, 1, 2, 3 };
    for (const RootMove move : { RootMove { 0, 2 }, RootMove { 3, 0 }, RootMove { 3, 1 } })
        EXPECT_TRUE(applyMove(list, move));
    for (const RootMove nothing :
        { RootMove { 1, 1 }, RootMove { 1, 2 }, RootMove { 4, 0 }, RootMove { 0, 5 } })
        EXPECT_FALSE(applyMove(list, nothing));
    EXPECT_EQ(list, (std::vector<int> { 3, 2, 1, 0 }));

    EXPECT_FALSE(tree.moveRoot({ 0, 2 })); // no collection yet
    auto& state = tree.showCollection("G1", { "/A", "/B", "/C" });
    const NodeId a = state.rootNodes[0].id;
    tree.expand(a);
    ASSERT_TRUE(tree.moveRoot(*rootDragMove(centres, 0, 100, 145)));
    EXPECT_EQ(namesOf(state.rootNodes), (std::vector<std::string> { "B", "C", "A" }));
    EXPECT_FALSE(tree.moveRoot({ 2, 3 }));
    // The collection stores the same order; the next showing keeps the rows as they are.
    tree.showCollection("G1", { "/B", "/C", "/A" });
    EXPECT_EQ(state.rootNodes[2].id, a);
    EXPECT_TRUE(state.isExpanded(a));
}

TEST_F(BrowserTreeFixture, SortingChangesReorderEveryLoadedList)
{
    auto& first = tree.showCollection("G1", { "/A" });
    const NodeId a = first.rootNodes[0].id;
    tree.expand(a);
    const auto before = *tree.children(a);
    auto& second = tree.showCollection("G2", { "/A" });
    tree.expand(second.rootNodes[0].id);
    const int reads = library.totalReads();

    // Only file names, MIDI included, once the other options are off.
    tree.setOptions({ { false, false, false }, false });
    const std::vector<std::string> byName { "Kicks", "Snares", "Hat.wav", "Kick.mid", "Loop 90.wav",
        "Loop 120.wav" };
    EXPECT_EQ(namesOf(*tree.children(second.rootNodes[0].id)), byName);
    EXPECT_EQ(namesOf(first.nodeChildren.at(a)), byName); // the other collection too
    EXPECT_EQ(library.totalReads(), reads); // re-sorted, not re-read
    EXPECT_EQ(named(first.nodeChildren.at(a), "Hat.wav").id, named(before, "Hat.wav").id);
    // Roots keep the collection's order.
    tree.showCollection("G3", { "/C", "/B", "/A" });
    tree.setOptions({ { true, true, true }, true });
    EXPECT_EQ(namesOf(tree.current()->rootNodes), (std::vector<std::string> { "C", "B", "A" }));
    EXPECT_EQ(tree.displayName(named(first.nodeChildren.at(a), "Hat.wav")), "Hat");

    // Overrides count once the browser works the BPMs out again.
    tree.setBPMOverrides({ [](const std::string& path) -> std::optional<std::int64_t> {
                              return path == "/A/Hat.wav" ? std::optional<std::int64_t>(60) : std::nullopt;
                          },
        [](const std::string& path) { return path == "/A/Loop 90.wav"; }, {} });
    tree.resort();
    EXPECT_EQ(namesOf(first.nodeChildren.at(a)),
        (std::vector<std::string> {
            "Kicks", "Snares", "Hat.wav", "Loop 120.wav", "Loop 90.wav", "Kick.mid" }));
}

TEST_F(BrowserTreeFixture, ReloadKeepsRowsThatAreStillThere)
{
    auto& state = tree.showCollection("G1", { "/A" });
    const NodeId a = state.rootNodes[0].id;
    tree.expand(a);
    const NodeId kicks = named(*tree.children(a), "Kicks").id;
    const NodeId snares = named(*tree.children(a), "Snares").id;
    const NodeId hat = named(*tree.children(a), "Hat.wav").id;
    tree.expand(kicks);
    tree.expand(snares);
    tree.collapse(snares);
    ASSERT_TRUE(tree.setKey(hat, "Am"));
    state.selectedNodeIds = { hat, named(*tree.children(a), "Kick.mid").id };
    state.selectedNodeId = hat;

    // On disk: Snares went away, Kick.mid went away, a new file came, Kicks gained a file.
    library.folders["/A"] = { { "/A/Kicks" },
        { fileInfo("/A/Hat.wav"), fileInfo("/A/New.wav"), fileInfo("/A/Loop 90.wav", 90) } };
    library.folders["/A/Kicks"].files.push_back(fileInfo("/A/Kicks/k1.wav"));
    tree.reloadLoadedFolders();
    EXPECT_EQ(namesOf(*tree.children(a)),
        (std::vector<std::string> { "Kicks", "Loop 90.wav", "Hat.wav", "New.wav" }));
    EXPECT_EQ(named(*tree.children(a), "Kicks").id, kicks);
    EXPECT_EQ(named(*tree.children(a), "Hat.wav").id, hat);
    EXPECT_EQ(named(*tree.children(a), "Hat.wav").key, "Am"); // a key found later survives
    EXPECT_TRUE(state.isExpanded(kicks));
    EXPECT_EQ(namesOf(*tree.children(kicks)), (std::vector<std::string> { "k1.wav", "k9.wav", "k10.wav" }));
    EXPECT_FALSE(state.isLoaded(snares));
    EXPECT_EQ(state.selectedNodeIds, NodeIdSet { hat });
    EXPECT_EQ(state.selectedNodeId, hat);
    EXPECT_EQ(library.reads["/A/Snares"], 2); // every loaded folder is read again, in one request
}

TEST_F(BrowserTreeFixture, AFolderResultOpensLikeARowUntilTheResultsChange)
{
    auto& state = tree.showCollection("G1", { "/A", "/B" });
    // A folder result opens like a tree row; replacing the results forgets what was opened in them.
    tree.setSearchResults({ folderNode("/A/Kicks"), fileNode(fileInfo("/B/b.wav")) });
    const NodeId result = state.searchResults[0].id;
    ASSERT_TRUE(tree.expand(result));
    EXPECT_EQ(tree.children(result)->size(), 2u);
    EXPECT_TRUE(tree.setKey(state.searchResults[1].id, "C"));
    EXPECT_EQ(state.searchResults[1].key, "C");
    tree.setSearchResults({});
    EXPECT_FALSE(state.isLoaded(result));
    EXPECT_FALSE(state.isExpanded(result));
    EXPECT_FALSE(tree.setKey(result, "C"));
}

TEST_F(BrowserTreeFixture, ReadsOffTheMainThreadLandWhereTheyBelong)
{
    auto& state = tree.showCollection("G1", { "/A", "/B" });
    const NodeId a = state.rootNodes[0].id, b = state.rootNodes[1].id;
    const auto load = tree.expandLater(a);
    ASSERT_TRUE(load);
    EXPECT_EQ(load->path, "/A");
    EXPECT_EQ(load->group, "G1");
    EXPECT_TRUE(state.isExpanded(a)); // the row opens at once, its children follow
    EXPECT_TRUE(tree.isLoading(a));
    EXPECT_EQ(tree.expandLater(a), std::nullopt); // one read per folder
    EXPECT_EQ(library.totalReads(), 0);
    ASSERT_TRUE(tree.childrenLoaded(*load, library.folders["/A"]));
    EXPECT_FALSE(tree.isLoading(a));
    EXPECT_EQ(tree.children(a)->front().name, "Kicks");
    EXPECT_FALSE(tree.childrenLoaded(*load, {})); // a second answer changes nothing
    EXPECT_EQ(tree.children(a)->size(), 6u);
    EXPECT_EQ(tree.expandLater(a), std::nullopt);
    EXPECT_EQ(tree.expandLater(named(*tree.children(a), "Hat.wav").id), std::nullopt);

    // An answer arrives after the user switched collections: it still lands in its own collection.
    const auto late = tree.expandLater(b);
    ASSERT_TRUE(late);
    tree.showCollection("G2", { "/B" });
    EXPECT_FALSE(tree.isLoading(b));
    ASSERT_TRUE(tree.childrenLoaded(*late, library.folders["/B"]));
    EXPECT_EQ(tree.state("G1")->nodeChildren.at(b).size(), 1u);
    EXPECT_TRUE(tree.current()->nodeChildren.empty());

    // The folder left while its read ran: the answer is dropped.
    tree.showCollection("G1", { "/A", "/B" });
    const NodeId kicks = named(*tree.children(a), "Kicks").id;
    const auto gone = tree.expandLater(kicks);
    ASSERT_TRUE(gone);
    tree.showCollection("G1", { "/B" });
    EXPECT_FALSE(tree.childrenLoaded(*gone, library.folders["/A/Kicks"]));
    EXPECT_FALSE(state.isLoaded(kicks));
    tree.forgetCollection("G2");
    EXPECT_FALSE(tree.childrenLoaded(ChildLoad { "G2", b, "/B" }, {}));

    // Loading without opening, for a folder shown in its parent's place.
    EXPECT_EQ(tree.onLoadChildren(b), std::nullopt); // loaded already
    auto& third = tree.showCollection("G3", { "/B" });
    const NodeId single = third.rootNodes[0].id;
    const auto quiet = tree.onLoadChildren(single);
    ASSERT_TRUE(quiet);
    EXPECT_FALSE(third.isExpanded(single));
    EXPECT_EQ(tree.onLoadChildren(single), std::nullopt);
    ASSERT_TRUE(tree.childrenLoaded(*quiet, library.folders["/B"]));
    EXPECT_FALSE(third.isExpanded(single));
    EXPECT_TRUE(third.isLoaded(single));
}

TEST(GroupCacheData, NodesAreFoundByIdAfterTheirListsChangeInPlace)
{
    GroupCacheData state;
    state.rootNodes = { folderNode("/A"), folderNode("/B") };
    const NodeId a = state.rootNodes[0].id;
    state.nodeChildren[a] = { folderNode("/A/x"), folderNode("/A/y") };
    state.searchResults = { folderNode("/R") };
    const NodeId y = state.nodeChildren[a][1].id;
    ASSERT_NE(state.findNode(y), nullptr);
    EXPECT_EQ(state.findNode(y)->path, "/A/y");
    EXPECT_EQ(state.findNode(state.searchResults[0].id)->path, "/R");

    // Reordered, replaced and removed behind the index's back, as the tree's users do.
    std::reverse(state.rootNodes.begin(), state.rootNodes.end());
    std::reverse(state.nodeChildren[a].begin(), state.nodeChildren[a].end());
    EXPECT_EQ(state.findNode(a), &state.rootNodes[1]);
    EXPECT_EQ(state.findNode(y), &state.nodeChildren[a][0]);
    const NodeId result = state.searchResults[0].id;
    state.searchResults.clear();
    EXPECT_EQ(state.findNode(result), nullptr);
    state.forgetSubtree(a);
    EXPECT_EQ(state.findNode(y), nullptr);
    // A root shown among the results too is the root's row.
    state.searchResults = { state.rootNodes[0] };
    EXPECT_EQ(state.findNode(state.rootNodes[0].id), &state.rootNodes[0]);
}
