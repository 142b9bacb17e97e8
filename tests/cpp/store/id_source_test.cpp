#include "core/store/id_source.hpp"

#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <set>
#include <string>

#include "core/engine/sim_engine.hpp"

// The random source of this test binary: the kernel's, unless a test makes it fail.
namespace {
std::atomic<bool> g_entropy_fails{false};
}  // namespace

extern "C" int getentropy(void* buffer, size_t length) {
    if (g_entropy_fails.load()) {
        errno = EIO;
        return -1;
    }
    long got = syscall(SYS_getrandom, buffer, length, 0);
    return got == static_cast<long>(length) ? 0 : -1;
}

namespace vorn {
namespace {

struct FailingEntropy {
    FailingEntropy() { g_entropy_fails = true; }
    ~FailingEntropy() { g_entropy_fails = false; }
};

bool is_v4(const Uuid& id) {
    const std::string text = id.to_string();
    return text.size() == 36 && text[14] == '4' &&
           std::string("89ab").find(text[19]) != std::string::npos;
}

TEST(MintId, GivesFreshVersion4IdsWithOrWithoutAnEngine) {
    SimEngine engine;
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        for (SimEngine* e : {static_cast<SimEngine*>(nullptr), &engine}) {
            auto id = mint_id(e);
            ASSERT_TRUE(id) << id.error().message();
            EXPECT_TRUE(is_v4(*id)) << id->to_string();
            EXPECT_TRUE(seen.insert(id->to_string()).second);
        }
    }
}

// A failing source is the RandomSource error (an OS-level failure) with the
// same text whichever way the id was asked for.
TEST(MintId, AFailingSourceIsTheRandomSourceError) {
    SimEngine engine;
    FailingEntropy failing;
    const std::string text =
        std::string("could not retrieve random bytes for uuid: ") + std::strerror(EIO);
    for (SimEngine* e : {static_cast<SimEngine*>(nullptr), &engine}) {
        auto id = mint_id(e);
        ASSERT_FALSE(id);
        EXPECT_EQ(id.error().kind(), CortexError::Kind::RandomSource);
        EXPECT_TRUE(id.error().is_os_error());
        EXPECT_EQ(id.error().message(), text);
    }
}

}  // namespace
}  // namespace vorn
