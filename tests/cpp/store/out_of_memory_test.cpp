// Running out of memory at any allocation inside a store operation leaves the
// handle and the folder as they were: every operation is run again and again
// with the n-th allocation failing, for every n until it completes.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <new>

#include "core/seeds/generators.hpp"
#include "core/store/cortex.hpp"
#include "temp_dir.hpp"

namespace {

// Allocations still allowed before one fails; negative: no limit.
std::atomic<long> g_allocations_left{-1};

void* allocate(std::size_t n) {
    if (g_allocations_left.load(std::memory_order_relaxed) >= 0 &&
        g_allocations_left.fetch_sub(1, std::memory_order_relaxed) == 0)
        throw std::bad_alloc();
    if (void* p = std::malloc(n == 0 ? 1 : n))
        return p;
    throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t n) {
    return allocate(n);
}
void* operator new[](std::size_t n) {
    return allocate(n);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace vorn {
namespace {

using testing::slurp;
using testing::TempDir;

constexpr const char* kNow = "2024-05-01T12:00:00Z";
const Uuid kA = *Uuid::parse("aaaaaaaa-0000-4000-8000-000000000001");
const Uuid kB = *Uuid::parse("bbbbbbbb-0000-4000-8000-000000000002");
const Uuid kNew = *Uuid::parse("cccccccc-0000-4000-8000-000000000003");

// Every file of a folder with its content, to compare before and after; the
// lock file's counts change with every write, so they can be left out.
std::map<std::string, std::string> folder_contents(const std::string& root, bool with_lock = true) {
    std::map<std::string, std::string> out;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (entry.is_regular_file() && (with_lock || entry.path().filename() != "write.lock"))
            out[entry.path().string()] = slurp(entry.path().string());
    }
    return out;
}

class OutOfMemory : public ::testing::Test {
  protected:
    TempDir dir;
    std::string original = dir / "original.cortex";

    void SetUp() override {
        auto made = Cortex::create(original, "Net", "lif", kNow);
        ASSERT_TRUE(made);
        ASSERT_TRUE(made->add_neuron({kA, "a", {}, {}, {}}));
        ASSERT_TRUE(made->add_neuron({kB, "b", {}, {}, {}}));
        ASSERT_TRUE(made->add_synapse({{}, kA, kB, {}, 0.5f, {}, {}}));
        ASSERT_TRUE(made->apply_seed(*ring(6, 2, 4, {})));
    }

    // Runs op on a fresh copy of the folder with allocation n failing, for
    // n = 0, 1, ... until op runs to its end. Returns the number of failures.
    // counted: the documents are unchanged, but op may have replaced one of
    // them with the same content, which counts a new generation.
    int fail_each_allocation(const std::function<void(Cortex&)>& op, bool counted = false) {
        int failures = 0;
        for (long n = 0;; ++n) {
            std::string root = dir / ("run" + std::to_string(n));
            std::filesystem::remove_all(root);
            std::filesystem::copy(original, root, std::filesystem::copy_options::recursive);
            auto handle = Cortex::open(root);
            EXPECT_TRUE(handle);
            const TopologyFile topology = handle->topology();
            const MetadataFile metadata = handle->metadata();
            const auto files = folder_contents(root, !counted);
            const auto documents = folder_contents(root, false);
            bool threw = false;
            g_allocations_left = n;
            try {
                op(*handle);
            } catch (const std::bad_alloc&) {
                threw = true;
            }
            g_allocations_left = -1;
            if (!threw)
                return failures;
            ++failures;
            SCOPED_TRACE("allocation " + std::to_string(n) + " failed");
            EXPECT_TRUE(handle->topology() == topology);
            EXPECT_TRUE(handle->metadata() == metadata);
            auto now = folder_contents(root, !counted);
            EXPECT_TRUE(now == files) << [&] {
                std::string changed;
                for (const auto& [path, content] : now)
                    if (!files.contains(path) || files.at(path) != content)
                        changed += " " + path;
                return "changed:" + changed;
            }();
            // Nothing reached the disk, so the handle is still current.
            auto saved = handle->save();
            EXPECT_TRUE(saved) << saved.error().message();
            EXPECT_TRUE(folder_contents(root, false) == documents);
            std::filesystem::remove_all(root);
        }
    }
};

TEST_F(OutOfMemory, EveryGraphEditLeavesHandleAndFolderAsTheyWere) {
    const Seed seed = *ring(5, 1, 9, {});
    const std::pair<const char*, std::function<void(Cortex&)>> edits[] = {
        {"add_neuron",
         [](Cortex& c) {
             (void)c.add_neuron({kNew, "new", {}, {}, {}});
         }},
        {"add_synapse",
         [](Cortex& c) {
             (void)c.add_synapse({kNew, kB, kA, {}, 0.5f, {}, {}});
         }},
        {"remove_neuron", [](Cortex& c) { (void)c.remove_neuron(kA); }},
        {"remove_synapse", [](Cortex& c) { (void)c.remove_synapse(c.topology().edges.at(3).id); }},
        {"apply_seed", [&](Cortex& c) { (void)c.apply_seed(seed); }},
        {"rename", [](Cortex& c) { (void)c.rename("Renamed", "later"); }},
    };
    for (const auto& [name, op] : edits) {
        SCOPED_TRACE(name);
        EXPECT_GT(fail_each_allocation(op), 3);
    }
    // Save writes metadata.json, then topology.json: running out of memory
    // for the second leaves the first rewritten with the same content.
    EXPECT_GT(fail_each_allocation([](Cortex& c) { (void)c.save(); }, true), 3);
}

TEST_F(OutOfMemory, CreateLeavesNoDocumentBehind) {
    for (long n = 0;; ++n) {
        std::string root = dir / ("new" + std::to_string(n));
        g_allocations_left = n;
        bool threw = false;
        try {
            (void)Cortex::create(root, "Net", "lif", kNow);
        } catch (const std::bad_alloc&) {
            threw = true;
        }
        g_allocations_left = -1;
        if (!threw)
            break;
        for (const char* doc : {"/metadata.json", "/topology.json"})
            EXPECT_FALSE(testing::exists(root + doc)) << "allocation " << n << doc;
    }
}

}  // namespace
}  // namespace vorn
